#ifndef CHANNELORDER_H
#define CHANNELORDER_H

#include <opencv2/core.hpp>

#include <utility>

// Swaps the first and third channel of every pixel in place: OpenCV's codecs work blue first,
// ImageData holds red first. cv::cvtColor would clone the source for an in-place call, which on
// a 48 MP image costs an allocation and a full extra copy; this touches each pixel once.
namespace ChannelOrder {

namespace detail {

template<typename T>
void swapRows(cv::Mat &image, const cv::Range &rows)
{
    const int channels = image.channels();
    for (int y = rows.start; y < rows.end; ++y) {
        T *pixel = image.ptr<T>(y);
        T *const end = pixel + static_cast<size_t>(image.cols) * channels;
        for (; pixel != end; pixel += channels)
            std::swap(pixel[0], pixel[2]);
    }
}

} // namespace detail

// True when the image had three or four channels and was reordered; other images are left as
// they are (gray has no order to change).
inline bool swapRedBlueInPlace(cv::Mat &image)
{
    if (image.channels() != 3 && image.channels() != 4)
        return false;
    cv::parallel_for_(cv::Range(0, image.rows), [&image](const cv::Range &rows) {
        switch (image.depth()) {
        case CV_8U:
        case CV_8S:
            detail::swapRows<uchar>(image, rows);
            break;
        case CV_16U:
        case CV_16S:
            detail::swapRows<ushort>(image, rows);
            break;
        case CV_32S:
        case CV_32F:
            detail::swapRows<int>(image, rows);
            break;
        default:
            detail::swapRows<double>(image, rows);
            break;
        }
    });
    return true;
}

} // namespace ChannelOrder

#endif // CHANNELORDER_H
