#ifndef IMAGEPREVIEWPROVIDER_H
#define IMAGEPREVIEWPROVIDER_H

#include "imaging/ImageData.h"

#include <QImage>
#include <QMutex>
#include <QQuickImageProvider>

#include <opencv2/core/mat.hpp>

// Serves the picture the window shows under image://lumivex/... . The engine may ask from its
// own threads, so the one held image is guarded.
class ImagePreviewProvider : public QQuickImageProvider
{
public:
    ImagePreviewProvider();

    void setPreview(const QImage &image);
    QImage requestImage(const QString &id, QSize *size, const QSize &requestedSize) override;

    // An 8-bit RGBA picture of the image's current region, at most `maxSide` pixels on its long
    // side (a window never needs the full resolution of a raw file).
    static QImage fromImageData(const ImageData &image, int maxSide);
    static QImage fromMat(const cv::Mat &mat, int maxSide);

private:
    QMutex m_mutex;
    QImage m_preview;
};

#endif // IMAGEPREVIEWPROVIDER_H
