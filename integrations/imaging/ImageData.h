#ifndef IMAGEDATA_H
#define IMAGEDATA_H

#include "OvImagingGlobal.h"

#include <QMetaType>
#include <QMutex>
#include <QRectF>
#include <QSize>
#include <QString>

#include <opencv2/core/mat.hpp>

#include <memory>

// One decoded image: channels in R, G, B(, A) order, 8-bit, 16-bit or float, 1, 3 or 4 channels.
// A crop selects a region relative to the full image; every reader (size, mat, the writer) sees
// that region. (0, 0, 1, 1) is the whole image.
class OV_IMAGEDATA_EXPORT ImageData
{
public:
    ImageData(const cv::Mat &image, const cv::Mat &secondary);

    void crop(const QRectF &relativeRect);

    QSize size() const;
    int width() const;
    int height() const;
    QSize fullSize() const;

    // The current region's pixels (a header over the full image, not a copy).
    cv::Mat mat() const;
    // The current region with four channels (an opaque alpha added when the image has none)
    // for true, with three colour channels for false.
    cv::Mat fullMat(bool alpha) const;

    // Writes a four-channel float matrix with values in [0, 1] as an 8-bit RGBA PNG.
    static bool imwrite(const QString &path, cv::Mat &image);

private:
    cv::Rect region() const;

    cv::Mat m_image;
    cv::Mat m_secondary;
    // The GUI thread may crop while another thread reads the region; the pixels themselves are
    // never changed after construction, so guarding the rectangle is enough.
    mutable QMutex m_regionMutex;
    cv::Rect m_region;
};

Q_DECLARE_METATYPE(std::shared_ptr<ImageData>)

#endif // IMAGEDATA_H
