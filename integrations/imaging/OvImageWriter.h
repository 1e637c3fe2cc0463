#ifndef OVIMAGEWRITER_H
#define OVIMAGEWRITER_H

#include "OvImagingGlobal.h"
#include "ImageData.h"

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <memory>

// Writes images synchronously on the caller's thread. The output format follows the output
// path's extension; the result replaces the output file atomically, and the source's metadata
// is carried over.
class OV_IMAGEIO_EXPORT OvImageWriter : public QObject
{
    Q_OBJECT
public:
    explicit OvImageWriter(QObject *parent = nullptr);
    ~OvImageWriter() override;

    void saveImage(const std::shared_ptr<ImageData> &image, const QString &inputPath, const QString &outputPath,
                   const QVariantMap &imageData, const QVariantMap &saveOptions);

Q_SIGNALS:
    void writeProgress(const QString &outputPath, float progress);
    void imageSaved(const QString &outputPath, qint64 bytesWritten);
    void errorSaving(const QString &outputPath, const QString &error);
};

#endif // OVIMAGEWRITER_H
