#ifndef FILEPROBLEM_H
#define FILEPROBLEM_H

#include "imaging/OvImagingGlobal.h"

#include <QString>

// Part of the image-utilities library, shared by the reader and the application.
namespace FileProblem {

// Why the file at `path` cannot be read, in a few words that name the cause ("the file does not
// exist", "permission denied", "not a regular file", ...); empty when it can be opened for
// reading. A FIFO or a device is never opened: reading one could block for ever.
OV_IMAGEUTILS_EXPORT QString describe(const QString &path);

} // namespace FileProblem

#endif // FILEPROBLEM_H
