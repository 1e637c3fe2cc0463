#ifndef PSPLANETRANSFER_H
#define PSPLANETRANSFER_H

#include <opencv2/core/mat.hpp>

#include <cstdint>

// The host's planes as mapped: three colour planes (all the same for gray) and an optional
// mask, each `height` rows of `rowBytes` bytes starting with `width` 16-bit samples.
struct PlaneView
{
    uint16_t *planes[3] = {nullptr, nullptr, nullptr};
    uint16_t *mask = nullptr;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t rowBytes = 0;
};

// Moves samples between the host's planes and the application's image in single passes.
//
// Loading is a chain of per-sample steps (merge, clearing the top bit, scaling to float by
// 1/32767, CvUtils::convert to 16 bits), and saving another (CvUtils::convert to float,
// saturating scale by 32767, truncation at 32767). Each sample's result depends on that sample
// alone, so each chain is evaluated once per possible input value, through the very same
// library calls, into a table; the passes then only look samples up. That gives the chains'
// results bit for bit without their whole-image temporaries.
//
// A pass can also note the smallest and largest sample it handles. It does so on the way, while
// the samples are at hand: a pass of its own over a whole image would cost about as much as the
// transfer.
class PSPlaneTransfer
{
public:
    // The host's full intensity and full opacity.
    static constexpr uint16_t HostMax = 32767;

    // Over all four channels of a load, a plane without mask counting as HostMax throughout.
    struct LoadExtremes
    {
        uint16_t readMin = 0; // the samples as the planes hold them
        uint16_t readMax = 0;
        uint16_t clearedMin = 0; // the same with the top bit cleared
        uint16_t clearedMax = 0;
    };

    struct SaveExtremes
    {
        double readMin = 0.0; // over all channels of the source
        double readMax = 0.0;
        double writtenMin = 0.0; // over the samples the chain gives for the channels used
        double writtenMax = 0.0;
    };

    // The four-channel 16-bit image that the load chain produces from the planes; a plane
    // without mask contributes 32767 as its fourth channel.
    static cv::Mat load(const PlaneView &view, LoadExtremes *extremes);

    // Whether both passes take eight samples a step on this machine. A vector form that stopped
    // giving its table's answers would leave the results right and the passes several times slower.
    static bool usesVectors();

    // The value, in [0, 1], that the load chain gives a host sample before its last step.
    static float scaledValue(uint16_t hostSample);

    // Writes channels 0 to 2 of `source` into the colour planes and, when `writeMask` is set and
    // the image has four channels, channel 3 into the mask. `source` has interleaved channels of
    // any depth CvUtils::convert accepts; the first `channels` (3 or 4) of them are used.
    static void save(const cv::Mat &source, int channels, const PlaneView &view, bool writeMask,
                     SaveExtremes *extremes);
};

#endif // PSPLANETRANSFER_H
