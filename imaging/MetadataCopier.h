#ifndef METADATACOPIER_H
#define METADATACOPIER_H

#include <QByteArray>
#include <QString>

#include <vector>

// Carries a source file's metadata (EXIF, XMP, IPTC, ICC profile) over to freshly encoded image
// bytes with ExifTool, resetting the orientation because the pixels are already upright.
namespace MetadataCopier {

// The encoded bytes with the metadata of `sourcePath`; empty when there is nothing to carry over
// or ExifTool is unavailable or fails, in which case the bytes are to be written as they are.
QByteArray copy(const QString &sourcePath, const std::vector<unsigned char> &encoded);

} // namespace MetadataCopier

#endif // METADATACOPIER_H
