#ifndef OVIMAGEUTILS_H
#define OVIMAGEUTILS_H

#include "OvImagingGlobal.h"

#include <QObject>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVariantMap>

class OV_IMAGEUTILS_EXPORT OvImageUtils : public QObject
{
    Q_OBJECT
public:
    explicit OvImageUtils(QObject *parent = nullptr);
    ~OvImageUtils() override;

    // Lower-case extensions that the image reader really decodes.
    static QStringList supportedFileFormats();

    // Pixel size from the file's header, without decoding the pixels; empty when unreadable.
    // Width and height are swapped when the file's EXIF orientation turns it sideways, so the
    // size matches the upright image that the reader delivers.
    QSize imageSize(const QString &path);

    // The file's extension, lower case, without the dot.
    QString getExtension(const QString &path);

    // The extension a result of a source with `extension` is written under. With the mode
    // "preserve" that is the same extension when the writer can write the format, otherwise
    // "jpeg" (so "heic" gives "jpeg").
    static QString getExportExtension(const QString &extension, const QString &mode);

    // True when the thumbnail file is missing, empty or older than the source. The image
    // description is not consulted.
    static bool shouldGenerateThumbnail(const QString &sourcePath, const QString &thumbnailPath,
                                        const QVariantMap &imageData);
};

#endif // OVIMAGEUTILS_H
