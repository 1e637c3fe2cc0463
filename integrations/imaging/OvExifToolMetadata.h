#ifndef OVEXIFTOOLMETADATA_H
#define OVEXIFTOOLMETADATA_H

#include "OvImagingGlobal.h"

#include <QVariantMap>

/// Accessors over a metadata map as OvExifTool::readFinished() delivers it ("Group:Tag" keys,
/// numeric values). A value object holding its own copy of the map: usable on any thread.
class OV_METADATA_EXPORT OvExifToolMetadata
{
public:
    /// Keeps a copy of \p metadata.
    /// \param metadata the map, for example the "metadata" of an image description.
    explicit OvExifToolMetadata(const QVariantMap &metadata);

    /// EXIF orientation, 1 to 8; 1 when absent or out of range.
    ///
    /// The keys "EXIF:Orientation", "IFD0:Orientation", "XMP:Orientation" and "Orientation" are
    /// looked up in this order, and the first one present decides.
    /// \return the orientation.
    int orientation() const;

private:
    QVariantMap m_metadata;
};

#endif // OVEXIFTOOLMETADATA_H
