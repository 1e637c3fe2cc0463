#ifndef OVIMAGEREADERWORKER_H
#define OVIMAGEREADERWORKER_H

#include "OvImagingGlobal.h"

#include <QObject>
#include <QString>
#include <QVariantMap>

// Decodes image files; lives on a thread of its own. Every loadImage ends with exactly one
// imageLoaded or error, after any number of statusChanged.
class OV_IMAGEIO_EXPORT OvImageReaderWorker : public QObject
{
    Q_OBJECT
public:
    explicit OvImageReaderWorker(QObject *parent = nullptr);
    ~OvImageReaderWorker() override;

public Q_SLOTS:
    void loadImage(const QString &path, const QVariantMap &metadata, QVariantMap options);

Q_SIGNALS:
    // "filepath" (the requested path), "metadata" (the map passed in) and "image"
    // (std::shared_ptr<ImageData>), upright according to the EXIF orientation.
    void imageLoaded(QVariantMap imageData);
    void error(const QString &message);
    void statusChanged(const QString &status);
};

#endif // OVIMAGEREADERWORKER_H
