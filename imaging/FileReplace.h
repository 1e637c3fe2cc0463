#ifndef FILEREPLACE_H
#define FILEREPLACE_H

#include "OvImagingGlobal.h"

#include <QString>

namespace FileReplace {

// Part of the image-utilities library, shared by the writer and the thumbnail maker.

// Moves `from` onto `to` in one step, replacing whatever `to` is. A symbolic link at `to` is
// replaced itself, never followed. Both paths must be on the same file system.
OV_IMAGEUTILS_EXPORT bool replace(const QString &from, const QString &to, QString *error);

// Flushes the file's data to the storage device.
OV_IMAGEUTILS_EXPORT bool sync(const QString &path);

} // namespace FileReplace

#endif // FILEREPLACE_H
