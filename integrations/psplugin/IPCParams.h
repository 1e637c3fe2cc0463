#ifndef IPCPARAMS_H
#define IPCPARAMS_H

#include "IPCSettings.h"

#include <cstddef>
#include <cstdint>

// The record's `status` once the application is done with it, as the filter module reads it.
enum RecordStatus : uint8_t {
    StatusImageSaved = 0, // a processed image was written into the planes
    StatusNoImageSaved = 1, // the run ended without a saved image
    StatusFailed = 2, // failure; the text is in errorMessage
};

// The application's exit code after a failure. Together with the record, when it is mapped, it
// is the filter module's only report of such an end.
enum FatalExit : int { FatalExitCode = -1 };

// The record of the param channel, shared with the host's filter module. Little-endian, natural
// alignment; the filter module is built separately, so the layout is checked field by field.
struct IPCParams
{
    static constexpr std::size_t ErrorMessageSize = 256;
    static constexpr std::size_t HostProcessNameSize = 258;

    uint8_t runMode;
    uint8_t status;
    char errorMessage[ErrorMessageSize];
    char hostProcessName[HostProcessNameSize];
    char hostSignature[4];
    int32_t hostVersionMajor;
    int32_t hostVersionMinor;
    int32_t hostVersionPatch;
    uint32_t width;
    uint32_t height;
    uint32_t rowBytes;
    uint32_t hasMask;
    uint32_t grayscale;
    uint32_t unused;
    int32_t iccProfileSize;
    IPCSettings settings;
};

static_assert(offsetof(IPCParams, runMode) == 0x000, "IPCParams layout");
static_assert(offsetof(IPCParams, status) == 0x001, "IPCParams layout");
static_assert(offsetof(IPCParams, errorMessage) == 0x002, "IPCParams layout");
static_assert(offsetof(IPCParams, hostProcessName) == 0x102, "IPCParams layout");
static_assert(offsetof(IPCParams, hostSignature) == 0x204, "IPCParams layout");
static_assert(offsetof(IPCParams, hostVersionMajor) == 0x208, "IPCParams layout");
static_assert(offsetof(IPCParams, hostVersionMinor) == 0x20C, "IPCParams layout");
static_assert(offsetof(IPCParams, hostVersionPatch) == 0x210, "IPCParams layout");
static_assert(offsetof(IPCParams, width) == 0x214, "IPCParams layout");
static_assert(offsetof(IPCParams, height) == 0x218, "IPCParams layout");
static_assert(offsetof(IPCParams, rowBytes) == 0x21C, "IPCParams layout");
static_assert(offsetof(IPCParams, hasMask) == 0x220, "IPCParams layout");
static_assert(offsetof(IPCParams, grayscale) == 0x224, "IPCParams layout");
static_assert(offsetof(IPCParams, unused) == 0x228, "IPCParams layout");
static_assert(offsetof(IPCParams, iccProfileSize) == 0x22C, "IPCParams layout");
static_assert(offsetof(IPCParams, settings) == 0x230, "IPCParams layout");
static_assert(sizeof(IPCParams) == 5248568, "IPCParams size");

#endif // IPCPARAMS_H
