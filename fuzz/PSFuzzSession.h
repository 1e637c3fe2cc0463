#ifndef PSFUZZSESSION_H
#define PSFUZZSESSION_H

#include "FilterHostSession.h"
#include "HostChannel.h"

#include <QByteArray>

#include <cstdint>
#include <memory>

class PSPluginData;
struct IPCParams;

// One filter run for the whole fuzzing process: the channels are created the way the host's
// filter module creates them, and the back end is built over them in this process, once (it
// keeps its mappings for the life of the process, so one per input would exhaust them).
class PSFuzzSession
{
public:
    static constexpr int ImageWidth = 48;
    static constexpr int ImageHeight = 40;

    static PSFuzzSession &instance();

    IPCParams *record() const;
    PSPluginData &backEnd() const { return *plugin; }
    uint64_t planeBytes() const { return uint64_t(ImageWidth) * 2 * ImageHeight; }

    // start() removes the srcIcc channel, so every further start() needs a new one.
    void renewIcc(const QByteArray &payload);

private:
    PSFuzzSession();

    FilterHostSession session;
    std::unique_ptr<HostChannel> icc;
    PSPluginData *plugin = nullptr;
};

#endif // PSFUZZSESSION_H
