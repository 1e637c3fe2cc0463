// The application's side of a filter run between two Windows processes, with the library's own
// channel code and in the library's order: param and planes opened, the record's lock awaited,
// mask and plane locks taken, guards verified, the ICC profile read by the record's length, the
// samples rewritten, StatusImageSaved set and the locks released with the record's last.
// Started by wire_host.exe; the exit code says where it stopped (0: all done).
#include "ChannelResult.h"
#include "IPCParams.h"
#include "SharedMemoryChannel.h"
#include "ThreadId.h"
#include "WireSample.h"

#include <windows.h>

#include <cstring>

using namespace WireSample;

namespace {

template <typename Payload>
void spinUntilLocked(SharedMemoryChannel<Payload> *channel)
{
    while (channel->tryLock() != ChannelOk) {
    }
}

// The channels stay mapped until the process ends: destroying one would remove the module's
// objects, so they are made on the heap and never deleted.
template <typename Payload>
SharedMemoryChannel<Payload> *channel(Channel which)
{
    return new SharedMemoryChannel<Payload>(ChannelNames[which], 0);
}

} // namespace

int main()
{
    auto *param = channel<IPCParams>(Param);
    SharedMemoryChannel<uint16_t> *planes[3] = {channel<uint16_t>(Plane0), channel<uint16_t>(Plane1),
                                                channel<uint16_t>(Plane2)};
    if (param->open() != ChannelOk || planes[0]->open() != ChannelOk || planes[1]->open() != ChannelOk
        || planes[2]->open() != ChannelOk)
        return 10;
    spinUntilLocked(param);
    if (param->info()->lockOwner != GetCurrentThreadId() || currentThreadId() != GetCurrentThreadId())
        return 12;
    IPCParams *record = param->data();
    if (record->width != Width || record->height != Height || record->rowBytes != RowBytes || !record->hasMask)
        return 13;

    auto *mask = channel<uint16_t>(Mask);
    if (mask->open() != ChannelOk)
        return 14;
    spinUntilLocked(mask);
    for (auto *plane : planes)
        spinUntilLocked(plane);
    if (planes[0]->verify() != ChannelOk || planes[1]->verify() != ChannelOk || planes[2]->verify() != ChannelOk)
        return 15;

    SharedMemoryChannel<char> icc(ChannelNames[Icc], 0);
    if (icc.open() != ChannelOk || icc.size() != IccChannelDataSize
        || std::memcmp(icc.data(), Profile, static_cast<std::size_t>(record->iccProfileSize)) != 0)
        return 16;
    icc.close();

    SharedMemoryChannel<uint16_t> *samples[4] = {planes[0], planes[1], planes[2], mask};
    for (int k = 0; k < 4; ++k) {
        auto *bytes = reinterpret_cast<unsigned char *>(samples[k]->data());
        for (uint32_t y = 0; y < Height; ++y) {
            for (uint32_t x = 0; x < Width; ++x) {
                if (*sampleAt(bytes, y, x) != hostSample(k, y, x))
                    return 17;
                *sampleAt(bytes, y, x) = appSample(k, y, x);
            }
        }
    }
    record->status = StatusImageSaved;

    for (auto *plane : planes)
        plane->unlock();
    mask->unlock();
    param->unlock();
    return 0;
}
