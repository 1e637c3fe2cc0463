#ifndef PSRECORDCHECK_H
#define PSRECORDCHECK_H

#include <cstdint>

struct IPCParams;

// The record comes from another program: the geometry it claims is checked against the bytes
// the channels really hold before any sample is touched.
class PSRecordCheck
{
public:
    // True when `height` rows of `rowBytes` bytes, each starting with `width` 16-bit samples,
    // fit into each colour plane's `planeBytes` and, when `maskBytes` is given, into the mask.
    // A zero size and an odd row stride (samples off their alignment) never fit.
    static bool planesFit(const IPCParams &record, const uint64_t planeBytes[3], const uint64_t *maskBytes);
};

#endif // PSRECORDCHECK_H
