#ifndef OVEXIFTOOL_H
#define OVEXIFTOOL_H

#include "OvImagingGlobal.h"

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <memory>

// Drives one long-lived ExifTool process. Requests are served in order and never block the
// caller's event loop; answers arrive as signals on the thread the object lives in.
class OV_EXIFTOOL_EXPORT OvExifTool : public QObject
{
    Q_OBJECT
public:
    explicit OvExifTool(QObject *parent = nullptr);
    ~OvExifTool() override;

    void readMetadata(const QString &path);
    // Writes a JPEG thumbnail of `sourcePath` turned upright by `orientation` (the EXIF value,
    // 1..8): the embedded preview when the file has one, otherwise a reduced decode. The file is
    // made under a new name and renamed into place, so a link planted at `thumbnailPath` is
    // replaced, never written through. thumbnailFinished follows in every case; the file exists
    // afterwards if it could be made.
    void saveThumbnailToFile(const QString &sourcePath, const QString &thumbnailPath, int orientation);

Q_SIGNALS:
    // Keys are "Group:Tag" with numeric values; empty when ExifTool is missing or failed.
    void readFinished(const QString &path, const QVariantMap &metadata);
    void thumbnailFinished(const QString &thumbnailPath);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

#endif // OVEXIFTOOL_H
