#ifndef CVUTILS_H
#define CVUTILS_H

#include "OvImagingGlobal.h"

#include <opencv2/core/mat.hpp>

class OV_IMAGEUTILS_EXPORT CvUtils
{
public:
    // A new matrix of the same size and channel count in `depth` (CV_8U, CV_16U or CV_32F),
    // with the value range mapped: 8-bit [0, 255], 16-bit [0, 65535], float [0, 1].
    // The input is left unchanged.
    static cv::Mat convert(const cv::Mat &image, int depth);
};

#endif // CVUTILS_H
