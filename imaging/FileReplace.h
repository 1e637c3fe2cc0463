#ifndef FILEREPLACE_H
#define FILEREPLACE_H

#include "OvImagingGlobal.h"

#include <QString>

namespace FileReplace {

// Part of the image-utilities library, the platform half of AtomicFileWriter.

// Moves `from` onto `to` in one step, replacing whatever `to` is. A symbolic link at `to` is
// replaced itself, never followed. Both paths must be on the same file system.
OV_IMAGEUTILS_EXPORT bool replace(const QString &from, const QString &to, QString *error);

// Gives `file` the owner and group of `like`. Fails (with `error`) where the process may not set
// them, so that a save never hands another user's file over to the one saving it.
OV_IMAGEUTILS_EXPORT bool keepOwner(const QString &file, const QString &like, QString *error);

// Flushes the file's data to the storage device.
OV_IMAGEUTILS_EXPORT bool sync(const QString &path);

} // namespace FileReplace

#endif // FILEREPLACE_H
