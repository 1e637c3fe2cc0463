#ifndef METADATACOPIER_H
#define METADATACOPIER_H

#include <QString>

// Carries a source file's metadata (EXIF, XMP, IPTC, ICC profile) over to a freshly encoded
// image file with ExifTool, resetting the orientation because the pixels are already upright.
namespace MetadataCopier {

enum class Result {
    Copied,
    NothingToCopy, // no source file, or a target format that holds no metadata of ours
    Unavailable, // ExifTool could not be started
    Failed, // ExifTool ran and could not write the target (a full disk, for one)
};

// Rewrites `targetPath` in place with the metadata of `sourcePath`. Every result but Copied comes
// with a warning where something went wrong; the target is then left as encoded.
Result copy(const QString &sourcePath, const QString &targetPath, QString *error = nullptr);

} // namespace MetadataCopier

#endif // METADATACOPIER_H
