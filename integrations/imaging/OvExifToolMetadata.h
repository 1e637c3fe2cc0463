#ifndef OVEXIFTOOLMETADATA_H
#define OVEXIFTOOLMETADATA_H

#include "OvImagingGlobal.h"

#include <QVariantMap>

class OV_METADATA_EXPORT OvExifToolMetadata
{
public:
    explicit OvExifToolMetadata(const QVariantMap &metadata);

    // EXIF orientation, 1 to 8; 1 when absent or out of range.
    int orientation() const;

private:
    QVariantMap m_metadata;
};

#endif // OVEXIFTOOLMETADATA_H
