#include "OvExifToolMetadata.h"

OvExifToolMetadata::OvExifToolMetadata(const QVariantMap &metadata)
    : m_metadata(metadata)
{
}

int OvExifToolMetadata::orientation() const
{
    // ExifTool reports the tag under the group of the block it came from; EXIF is preferred.
    static const char *const keys[] = {"EXIF:Orientation", "IFD0:Orientation", "XMP:Orientation", "Orientation"};
    for (const char *key : keys) {
        const auto it = m_metadata.constFind(QLatin1String(key));
        if (it == m_metadata.constEnd())
            continue;
        bool ok = false;
        const int value = it->toInt(&ok);
        return ok && value >= 1 && value <= 8 ? value : 1;
    }
    return 1;
}
