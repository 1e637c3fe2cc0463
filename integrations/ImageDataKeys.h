#ifndef IMAGEDATAKEYS_H
#define IMAGEDATAKEYS_H

#include <QString>

// The keys of an image description, the map that a back end emits with imageLoaded and the
// facade keeps for the current image. Readers, back ends and the facade must agree on them.
namespace ImageDataKeys {

// std::shared_ptr<ImageData>: the loaded image.
inline const QString Image = QStringLiteral("image");
// std::shared_ptr<ImageData>: a second rendition, cropped together with Image.
inline const QString RawImage = QStringLiteral("rawImage");
// QString: where the image came from: the file's path, or the name of the filter host.
inline const QString FilePath = QStringLiteral("filepath");
// QString: path of a thumbnail file.
inline const QString Thumbnail = QStringLiteral("thumbnail");
// QVariantMap: the image's metadata under "Group:Tag" keys.
inline const QString Metadata = QStringLiteral("metadata");
// QSize: the full pixel size of the image.
inline const QString FullSize = QStringLiteral("fullSize");

} // namespace ImageDataKeys

#endif // IMAGEDATAKEYS_H
