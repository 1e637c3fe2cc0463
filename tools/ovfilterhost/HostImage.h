#ifndef HOSTIMAGE_H
#define HOSTIMAGE_H

#include <opencv2/core/mat.hpp>

// An image in the filter module's form: separate 16-bit planes on the host's 15-bit scale
// (32767 is full intensity). A gray image keeps its samples in plane 0.
struct HostImage
{
    int width = 0;
    int height = 0;
    bool gray = false;
    cv::Mat planes[3]; // CV_16UC1 each
    cv::Mat mask; // CV_16UC1, empty when the image has no alpha
};

#endif // HOSTIMAGE_H
