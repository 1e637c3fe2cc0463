#ifndef IPCSETTINGS_H
#define IPCSETTINGS_H

#include <cstddef>
#include <cstdint>

// The filter's stored settings inside the IPC record. The filter module reads this block with
// its own compiler, so every offset below is part of the wire layout and checked at build time.
struct IPCSettings
{
    static constexpr std::size_t TextFieldSize = 1024;
    static constexpr std::size_t MaskStrokesSize = 0x500000;

    int32_t settingsVersion;
    char denoiseSettings[TextFieldSize];
    char sharpenSettings[TextFieldSize];
    char enhanceSettings[TextFieldSize];
    char faceRecoverySettings[TextFieldSize];
    char subjectSettings[TextFieldSize];
    char maskStrokes[MaskStrokesSize];
    uint32_t settingsWritten;
};

static_assert(offsetof(IPCSettings, settingsVersion) == 0, "IPCSettings layout");
static_assert(offsetof(IPCSettings, denoiseSettings) == 4, "IPCSettings layout");
static_assert(offsetof(IPCSettings, sharpenSettings) == 1028, "IPCSettings layout");
static_assert(offsetof(IPCSettings, enhanceSettings) == 2052, "IPCSettings layout");
static_assert(offsetof(IPCSettings, faceRecoverySettings) == 3076, "IPCSettings layout");
static_assert(offsetof(IPCSettings, subjectSettings) == 4100, "IPCSettings layout");
static_assert(offsetof(IPCSettings, maskStrokes) == 5124, "IPCSettings layout");
static_assert(offsetof(IPCSettings, settingsWritten) == 5248004, "IPCSettings layout");
static_assert(sizeof(IPCSettings) == 5248008, "IPCSettings size");

#endif // IPCSETTINGS_H
