#ifndef SAMPLEIMAGE_H
#define SAMPLEIMAGE_H

#include <QString>

#include <opencv2/core/mat.hpp>

// A small synthetic landscape (hazy sky, sun, hills, lake, foliage texture) for the demo and the
// tests: flat enough that an enhancement shows, detailed enough that a blank window does not
// pass for it. Deterministic for a given size.
class SampleImage
{
public:
    // 8-bit, three channels in R, G, B order.
    static cv::Mat landscape(int width, int height);
    // Writes the landscape; the format follows the extension (.png, .jpg, .tif, ...).
    static bool write(const QString &path, int width, int height);
};

#endif // SAMPLEIMAGE_H
