#include "CvUtils.h"

#include <QDebug>

namespace {

// The value that stands for full intensity at each depth; 0 for depths without a defined range.
double fullScale(int depth)
{
    switch (depth) {
    case CV_8U:
        return 255.0;
    case CV_16U:
        return 65535.0;
    case CV_32F:
    case CV_64F:
        return 1.0;
    default:
        return 0.0;
    }
}

} // namespace

cv::Mat CvUtils::convert(const cv::Mat &image, int depth)
{
    const double from = fullScale(image.depth());
    const double to = fullScale(depth);
    if (from == 0.0 || to == 0.0) {
        qWarning() << "CvUtils::convert: unsupported depth" << image.depth() << "to" << depth;
        return cv::Mat();
    }
    cv::Mat result;
    if (image.depth() == depth)
        image.copyTo(result);
    else
        image.convertTo(result, depth, to / from);
    return result;
}
