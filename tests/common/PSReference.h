#ifndef PSREFERENCE_H
#define PSREFERENCE_H

#include "imaging/ImageData.h"

#include <opencv2/core/mat.hpp>

#include <cstdint>
#include <memory>

// The image transfers written as the plain sequence of whole-matrix steps, to hold the
// single-pass implementation against.
namespace PSReference {

struct Planes
{
    uint16_t *planes[3] = {nullptr, nullptr, nullptr};
    uint16_t *mask = nullptr;
    int width = 0;
    int height = 0;
    int rowBytes = 0;
    bool gray = false;
};

struct Loaded
{
    cv::Mat merged;     // the four channels as the planes hold them
    cv::Mat scaled;     // top bit cleared, scaled to float
    cv::Mat converted;  // CvUtils::convert of the float image back to 16-bit
    cv::Mat thumbnail;  // the float image resized
};

// The thumbnail only when asked: its long side grows with the aspect ratio.
Loaded load(const Planes &planes, bool withThumbnail);

// Writes the image into the planes as the plain sequence does; returns the samples it wrote, all
// channels of the converted image.
cv::Mat save(const std::shared_ptr<ImageData> &image, const Planes &planes);

// Short side 200, long side by integer arithmetic.
cv::Size thumbnailSize(int width, int height);

} // namespace PSReference

#endif // PSREFERENCE_H
