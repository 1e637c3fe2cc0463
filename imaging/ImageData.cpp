#include "ImageData.h"

#include "ChannelOrder.h"

#include <QDebug>
#include <QFile>
#include <QMutexLocker>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace {

int clampedEdge(double relative, int extent)
{
    return std::clamp(static_cast<int>(std::lround(relative * extent)), 0, extent);
}

} // namespace

ImageData::ImageData(const cv::Mat &image, const cv::Mat &secondary)
    : m_image(image)
    , m_secondary(secondary)
    , m_region(0, 0, image.cols, image.rows)
{
}

void ImageData::crop(const QRectF &relativeRect)
{
    // Always relative to the full image, so successive crops replace each other.
    const QRectF r = relativeRect.normalized();
    const int left = clampedEdge(r.left(), m_image.cols);
    const int right = clampedEdge(r.right(), m_image.cols);
    const int top = clampedEdge(r.top(), m_image.rows);
    const int bottom = clampedEdge(r.bottom(), m_image.rows);
    const cv::Rect region(left, top, right - left, bottom - top);
    QMutexLocker locker(&m_regionMutex);
    m_region = region;
}

cv::Rect ImageData::region() const
{
    QMutexLocker locker(&m_regionMutex);
    return m_region;
}

QSize ImageData::size() const
{
    const cv::Rect r = region();
    return QSize(r.width, r.height);
}

int ImageData::width() const
{
    return region().width;
}

int ImageData::height() const
{
    return region().height;
}

QSize ImageData::fullSize() const
{
    return QSize(m_image.cols, m_image.rows);
}

cv::Mat ImageData::mat() const
{
    if (m_image.empty())
        return cv::Mat();
    return m_image(region());
}

cv::Mat ImageData::fullMat(bool alpha) const
{
    const cv::Mat current = mat();
    if (current.empty())
        return current;
    const int channels = current.channels();
    if ((alpha && channels == 4) || (!alpha && channels == 3))
        return current;

    // cvtColor fills an added alpha with the depth's opaque value (255, 65535 or 1.0).
    int code = -1;
    if (channels == 1)
        code = alpha ? cv::COLOR_GRAY2RGBA : cv::COLOR_GRAY2RGB;
    else if (channels == 3)
        code = cv::COLOR_RGB2RGBA;
    else if (channels == 4)
        code = cv::COLOR_RGBA2RGB;
    if (code < 0) {
        qWarning() << "ImageData::fullMat: unsupported channel count" << channels;
        return cv::Mat();
    }
    cv::Mat result;
    cv::cvtColor(current, result, code);
    return result;
}

bool ImageData::imwrite(const QString &path, cv::Mat &image)
{
    if (image.empty())
        return false;
    double scale = 1.0;
    if (image.depth() == CV_32F || image.depth() == CV_64F)
        scale = 255.0;
    else if (image.depth() == CV_16U)
        scale = 255.0 / 65535.0;

    try {
        cv::Mat eightBit;
        image.convertTo(eightBit, CV_8U, scale);
        // OpenCV encoders expect blue first.
        ChannelOrder::swapRedBlueInPlace(eightBit);
        return cv::imwrite(QFile::encodeName(path).toStdString(), eightBit);
    } catch (const std::exception &e) {
        qWarning() << "ImageData::imwrite failed:" << path << e.what();
        return false;
    }
}
