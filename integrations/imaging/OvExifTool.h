#ifndef OVEXIFTOOL_H
#define OVEXIFTOOL_H

#include "OvImagingGlobal.h"

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <memory>

/// Drives one long-lived ExifTool process. Requests are served in order and never block the
/// caller's event loop; answers arrive as signals on the thread the object lives in.
///
/// Each request, a metadata read or a thumbnail, is answered by exactly one signal, one request at
/// a time in the order they were made. The process (`exiftool` on the search path) is started at
/// the first request and kept running. A command is given up as a failure, and the process is
/// started again for the next, when it has no answer within 10 s, when the process ends without
/// answering (reported at once), or when its answer grows past 64 MiB. Thumbnails are decoded on a pool thread of
/// the object's own, one at a time.
///
/// \par Threads
/// Use the object on the thread it lives in, which needs a running event loop: the answers are
/// delivered from it. The external-editor back end makes it on the worker thread at its first load.
class OV_EXIFTOOL_EXPORT OvExifTool : public QObject
{
    Q_OBJECT
public:
    /// Makes the wrapper; the ExifTool process is not started before the first request.
    /// \param parent the `QObject` parent, or null.
    explicit OvExifTool(QObject *parent = nullptr);
    /// Waits for a thumbnail being made and ends the ExifTool process: it is asked to quit and
    /// killed when it has not within 3 s. Requests not yet answered get no signal.
    ~OvExifTool() override;

    /// Reads the metadata of the file \p path; readFinished() follows.
    ///
    /// A path that is empty or holds a line break is not handed to ExifTool (each argument is a line
    /// of its command stream): it is answered with an empty map, before this call returns when no
    /// other request is waiting.
    /// \param path the file, relative to the working directory or absolute.
    /// \thread The object's thread.
    /// \emits readFinished(), with \p path as given.
    void readMetadata(const QString &path);
    /// Writes a JPEG thumbnail of `sourcePath` turned upright by `orientation` (the EXIF value,
    /// 1..8): the embedded preview when the file has one, otherwise a reduced decode. The file is
    /// made under a new name and renamed into place, so a link planted at `thumbnailPath` is
    /// replaced, never written through. thumbnailFinished follows in every case; the file exists
    /// afterwards if it could be made.
    ///
    /// The thumbnail's long side is at most 512 pixels; the file's own orientation tag is not
    /// applied on top of \p orientation.
    /// \param sourcePath the image file.
    /// \param thumbnailPath the JPEG file to write.
    /// \param orientation the EXIF orientation to undo; other values leave the picture as stored.
    /// \thread The object's thread.
    /// \emits thumbnailFinished(), later, from the event loop.
    void saveThumbnailToFile(const QString &sourcePath, const QString &thumbnailPath, int orientation);

Q_SIGNALS:
    /// Keys are "Group:Tag" with numeric values; empty when ExifTool is missing or failed.
    /// \param path the path as readMetadata() was given it.
    /// \param metadata the metadata of the file's first entry.
    /// \thread The object's thread.
    void readFinished(const QString &path, const QVariantMap &metadata);
    /// The thumbnail request for \p thumbnailPath has ended, whether the file could be made or not.
    /// \param thumbnailPath the path as saveThumbnailToFile() was given it.
    /// \thread The object's thread.
    void thumbnailFinished(const QString &thumbnailPath);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

#endif // OVEXIFTOOL_H
