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
class PSPlaneTransfer
{
public:
    struct LoadStatistics
    {
        uint16_t rawMin = 0;     // over all four channels before the top bit is cleared
        uint16_t rawMax = 0;
        uint16_t rawTopLeft[4] = {0, 0, 0, 0};
        float scaledMin = 0.f;   // the same after clearing and scaling to [0, 1]
        float scaledMax = 0.f;
        float scaledTopLeft[4] = {0.f, 0.f, 0.f, 0.f};
    };

    struct SaveStatistics
    {
        double sourceMin = 0.0;  // over the image's current pixels, all channels
        double sourceMax = 0.0;
        double writtenMin = 0.0; // over the samples written, all channels of the converted image
        double writtenMax = 0.0;
    };

    // The four-channel 16-bit image that the load chain produces from the planes; a plane
    // without mask contributes 32767 as its fourth channel.
    static cv::Mat load(const PlaneView &view, LoadStatistics *statistics);

    // The float image, values in [0, 1], that the load chain has before its last step; used
    // for the thumbnail of an already converted image.
    static float scaledValue(uint16_t hostSample);

    // Writes channels 0 to 2 of `source` into the colour planes and, when `writeMask` is set and
    // the image has four channels, channel 3 into the mask. `source` has `stride` interleaved
    // channels of any depth CvUtils::convert accepts; `channels` (3 or 4) of them are used.
    static void save(const cv::Mat &source, int channels, const PlaneView &view, bool writeMask,
                     SaveStatistics *statistics);
};

#endif // PSPLANETRANSFER_H
