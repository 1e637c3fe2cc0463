#ifndef OVIMAGEUTILS_H
#define OVIMAGEUTILS_H

#include "OvImagingGlobal.h"

#include <QObject>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVariantMap>

/// Questions about image files and their formats, answered from paths, the file system and file
/// headers without decoding any pixels. The object keeps no state: every function may be called on
/// any thread.
class OV_IMAGEUTILS_EXPORT OvImageUtils : public QObject
{
    Q_OBJECT
public:
    /// Makes the object.
    /// \param parent the `QObject` parent, or null.
    explicit OvImageUtils(QObject *parent = nullptr);
    /// Destroys the object.
    ~OvImageUtils() override;

    /// Lower-case extensions that the image reader really decodes.
    ///
    /// Of "jpg", "jpeg", "png", "tif", "tiff", "webp" and "bmp", those whose codec the platform's
    /// OpenCV has (WebP is optional there); the writer writes the same formats.
    /// \return the extensions, without dots.
    static QStringList supportedFileFormats();

    /// Pixel size from the file's header, without decoding the pixels; empty when unreadable.
    /// Width and height are swapped when the file's EXIF orientation turns it sideways, so the
    /// size matches the upright image that the reader delivers.
    /// \param path the file.
    /// \return the size.
    QSize imageSize(const QString &path);

    /// The file's extension, lower case, without the dot.
    /// \param path the path; the file need not exist.
    /// \return the extension; empty when the name has none.
    QString getExtension(const QString &path);

    /// The extension a result of a source with `extension` is written under. With the mode
    /// "preserve" that is the same extension when the writer can write the format, otherwise
    /// "jpeg" (so "heic" gives "jpeg").
    ///
    /// Any other mode names the wanted format itself, which is taken when the writer can write it,
    /// and "jpeg" otherwise.
    /// \param extension the source's extension, in any letter case.
    /// \param mode "preserve", or the extension of the wanted format.
    /// \return the extension, lower case.
    static QString getExportExtension(const QString &extension, const QString &mode);

    /// True when the thumbnail file is missing, empty or older than the source. The image
    /// description is not consulted.
    ///
    /// A source that no longer exists keeps an existing thumbnail.
    /// \param sourcePath the image file.
    /// \param thumbnailPath the thumbnail file.
    /// \param imageData the image's description.
    /// \return whether the thumbnail has to be made (again).
    static bool shouldGenerateThumbnail(const QString &sourcePath, const QString &thumbnailPath,
                                        const QVariantMap &imageData);
};

#endif // OVIMAGEUTILS_H
