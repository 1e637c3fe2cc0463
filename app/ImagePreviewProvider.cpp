#include "ImagePreviewProvider.h"

#include "imaging/CvUtils.h"

#include <QMutexLocker>

#include <opencv2/imgproc.hpp>

#include <algorithm>

ImagePreviewProvider::ImagePreviewProvider()
    : QQuickImageProvider(QQuickImageProvider::Image)
{
}

void ImagePreviewProvider::setPreview(const QImage &image)
{
    QMutexLocker locker(&m_mutex);
    m_preview = image;
}

QImage ImagePreviewProvider::requestImage(const QString &, QSize *size, const QSize &requestedSize)
{
    QImage image;
    {
        QMutexLocker locker(&m_mutex);
        image = m_preview;
    }
    if (size)
        *size = image.size();
    if (requestedSize.isValid() && !image.isNull())
        image = image.scaled(requestedSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

QImage ImagePreviewProvider::fromImageData(const ImageData &image, int maxSide)
{
    return fromMat(image.mat(), maxSide);
}

QImage ImagePreviewProvider::fromMat(const cv::Mat &mat, int maxSide)
{
    if (mat.empty())
        return QImage();
    // Shrink first, in the source depth: converting a full raw frame would cost more than it shows.
    cv::Mat scaled = mat;
    const int longSide = std::max(mat.cols, mat.rows);
    if (longSide > maxSide) {
        const double factor = double(maxSide) / longSide;
        cv::resize(mat, scaled, cv::Size(), factor, factor, cv::INTER_AREA);
    }
    cv::Mat bytes = CvUtils::convert(scaled, CV_8U);
    if (bytes.empty())
        return QImage();
    cv::Mat rgba;
    switch (bytes.channels()) {
    case 1:
        cv::cvtColor(bytes, rgba, cv::COLOR_GRAY2RGBA);
        break;
    case 3:
        cv::cvtColor(bytes, rgba, cv::COLOR_RGB2RGBA);
        break;
    case 4:
        rgba = bytes;
        break;
    default:
        return QImage();
    }
    const QImage view(rgba.data, rgba.cols, rgba.rows, int(rgba.step), QImage::Format_RGBA8888);
    return view.copy();
}
