#ifndef OVEXIFTOOL_H
#define OVEXIFTOOL_H

#include "OvImagingGlobal.h"

#include <QObject>
#include <QString>
#include <QVariantMap>

// Drives one long-lived ExifTool process. Requests are served in order and never block the
// caller's event loop; answers arrive as signals on the thread the object lives in.
class OV_EXIFTOOL_EXPORT OvExifTool : public QObject
{
    Q_OBJECT
public:
    explicit OvExifTool(QObject *parent = nullptr);
    ~OvExifTool() override;

    void readMetadata(const QString &path);
    void saveThumbnailToFile(const QString &sourcePath, const QString &thumbnailPath, int orientation);

Q_SIGNALS:
    // Keys are "Group:Tag" with numeric values; empty when ExifTool is missing or failed.
    void readFinished(const QString &path, const QVariantMap &metadata);
    void thumbnailFinished(const QString &thumbnailPath);
};

#endif // OVEXIFTOOL_H
