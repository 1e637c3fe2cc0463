#ifndef METADATACOPIER_H
#define METADATACOPIER_H

#include <QString>

// Carries a source file's metadata (EXIF, XMP, IPTC, ICC profile) over to a freshly encoded
// image file with ExifTool, resetting the orientation because the pixels are already upright.
namespace MetadataCopier {

// Rewrites `targetPath` in place with the metadata of `sourcePath`. False, with a warning, when
// there is no source, ExifTool is unavailable or it fails; the target is then left as encoded.
bool copy(const QString &sourcePath, const QString &targetPath);

} // namespace MetadataCopier

#endif // METADATACOPIER_H
