#ifndef HOSTIMAGECODEC_H
#define HOSTIMAGECODEC_H

#include "HostImage.h"

#include <QString>

#include <opencv2/core/mat.hpp>

#include <cstdint>

// Converts between ordinary image files (8 or 16 bits per sample, gray, RGB or RGBA) and the
// host's planes. Alpha becomes the mask plane.
class HostImageCodec
{
public:
    static constexpr uint16_t HostMax = 32767;

    // An 8- or 16-bit sample to the host scale, rounded to the nearest step.
    static uint16_t toHost(unsigned value, unsigned maxValue);
    // A host sample (0 to 32767) to the full 16-bit range; exactly invertible by toHost.
    static uint16_t fromHost(uint16_t sample);

    // `image` in OpenCV's channel order (gray, BGR or BGRA), 8 or 16 bits per sample.
    static HostImage fromMat(const cv::Mat &image, bool forceGray, bool dropAlpha);
    static bool readFile(const QString &path, bool forceGray, bool dropAlpha, HostImage *out, QString *error);

    // A 16-bit image in OpenCV's channel order: gray, or BGR, with alpha when there is a mask.
    static cv::Mat toMat(const HostImage &image);
    static bool writeFile(const QString &path, const HostImage &image, QString *error);
};

#endif // HOSTIMAGECODEC_H
