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

/// One decoded image: channels in R, G, B(, A) order, 8-bit, 16-bit or float, 1, 3 or 4 channels.
/// A crop selects a region relative to the full image; every reader (size, mat, the writer) sees
/// that region. (0, 0, 1, 1) is the whole image.
///
/// Images travel as `std::shared_ptr<ImageData>`: in the image descriptions (the "image" key) and
/// as an argument of queued calls, for which the pointer type is declared to Qt's meta-type system
/// below this class. All holders of one pointer share one region, so a crop is seen by all.
///
/// \par Threads
/// Any thread may read an image while another crops it: the region is guarded, and the pixels are
/// never changed by this class after construction.
class OV_IMAGEDATA_EXPORT ImageData
{
public:
    /// Makes an image of \p image, whose pixel buffer it shares (no copy), with the whole image as
    /// its region.
    /// \param image the pixels.
    /// \param secondary a second matrix kept beside the image; no member reads it, and the
    ///        integrations library passes an empty one.
    ImageData(const cv::Mat &image, const cv::Mat &secondary);

    /// Selects the region \p relativeRect of the full image. Crops are always relative to the full
    /// image, so a crop replaces the previous one rather than cropping further.
    /// \param relativeRect the region in fractions of the full width and height, (0, 0, 1, 1) for
    ///        the whole image. It is normalised, and its edges are rounded to whole pixels and
    ///        clamped to the image, so whatever lies outside the image is cut off.
    /// \thread Any thread.
    void crop(const QRectF &relativeRect);

    /// The pixel size of the current region.
    /// \return the size; empty for an image without pixels or an empty region.
    QSize size() const;
    /// The pixel width of the current region.
    /// \return the width.
    int width() const;
    /// The pixel height of the current region.
    /// \return the height.
    int height() const;
    /// The pixel size of the full image, before any crop.
    /// \return the size.
    QSize fullSize() const;

    /// The current region's pixels (a header over the full image, not a copy).
    /// \return the region; empty for an image without pixels.
    cv::Mat mat() const;
    /// The current region with four channels (an opaque alpha added when the image has none)
    /// for true, with three colour channels for false.
    ///
    /// When the image already has that many channels the result is the region itself, as mat()
    /// gives it; otherwise it is a new matrix: gray is spread to the colour channels, an added alpha
    /// holds the depth's full value, a dropped one is left out.
    /// \param alpha whether the result has an alpha channel.
    /// \return the matrix, at the image's depth; empty for an image without pixels and, with a
    ///         warning in the log, for a channel count other than 1, 3 or 4.
    cv::Mat fullMat(bool alpha) const;

    /// Writes a four-channel float matrix with values in [0, 1] as an 8-bit RGBA PNG.
    ///
    /// That is how the integrations library uses it. In general the matrix is scaled to 8 bits from
    /// its depth's range (float [0, 1], 16-bit [0, 65535]), taken in R, G, B(, A) order, and OpenCV
    /// encodes it in the format that the suffix of \p path names. The file is written at \p path
    /// directly.
    /// \param path the file to write.
    /// \param image the pixels; left unchanged.
    /// \return whether the file was written; false for an empty matrix.
    /// \thread Any thread.
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
