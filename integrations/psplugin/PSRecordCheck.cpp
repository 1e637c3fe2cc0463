#include "PSRecordCheck.h"

#include "psplugin/IPCParams.h"

bool PSRecordCheck::planesFit(const IPCParams &record, const uint64_t planeBytes[3], const uint64_t *maskBytes)
{
    const uint64_t width = record.width;
    const uint64_t height = record.height;
    const uint64_t rowBytes = record.rowBytes;
    if (width == 0 || height == 0 || rowBytes < width * 2 || rowBytes % 2 != 0)
        return false;
    const uint64_t needed = height * rowBytes;
    for (int k = 0; k < 3; ++k) {
        if (planeBytes[k] < needed)
            return false;
    }
    return !maskBytes || *maskBytes >= needed;
}
