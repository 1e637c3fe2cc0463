#include "PSReference.h"

#include "imaging/CvUtils.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <vector>

namespace PSReference {

cv::Size thumbnailSize(int width, int height)
{
    return height > width ? cv::Size(200, height * 200 / width) : cv::Size(width * 200 / height, 200);
}

Loaded load(const Planes &p, bool withThumbnail)
{
    std::vector<cv::Mat> channels(4);
    for (int k = 0; k < 3; ++k)
        channels[size_t(k)] = cv::Mat(p.height, p.width, CV_16UC1, p.gray ? p.planes[0] : p.planes[k], size_t(p.rowBytes));
    channels[3] = p.mask ? cv::Mat(p.height, p.width, CV_16UC1, p.mask, size_t(p.rowBytes))
                         : cv::Mat(p.height, p.width, CV_16UC1, cv::Scalar(32767));
    Loaded result;
    cv::merge(channels, result.merged);
    cv::bitwise_and(result.merged, cv::Scalar::all(32767), result.scaled);
    result.scaled.convertTo(result.scaled, CV_32F, 1.0 / 32767.0, 0.0);
    result.converted = CvUtils::convert(result.scaled, 2);
    if (withThumbnail)
        cv::resize(result.scaled, result.thumbnail, thumbnailSize(p.width, p.height), 0, 0, cv::INTER_LINEAR);
    return result;
}

cv::Mat save(const std::shared_ptr<ImageData> &image, const Planes &p)
{
    cv::Mat f = CvUtils::convert(image->fullMat(p.mask != nullptr), 5);
    f.convertTo(f, CV_16U, 32767.0, 0.0);
    cv::threshold(f, f, 32767, 32767, cv::THRESH_TRUNC);
    std::vector<cv::Mat> channels;
    cv::split(f, channels);
    uint16_t *const targets[4] = {p.planes[0], p.planes[1], p.planes[2], channels.size() == 4 ? p.mask : nullptr};
    for (int k = 0; k < 4; ++k) {
        if (targets[k])
            channels[size_t(k)].copyTo(cv::Mat(p.height, p.width, CV_16UC1, targets[k], size_t(p.rowBytes)));
    }
    return f;
}

} // namespace PSReference
