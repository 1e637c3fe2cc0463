#ifndef JPEGCOMPLETENESS_H
#define JPEGCOMPLETENESS_H

#include <QByteArrayView>
#include <QString>

// A JPEG cut off before its end decodes without an error: the decoder only warns, and fills the
// rows it never received with grey. Such a file is told by its structure instead: its markers,
// followed from the start, must reach the end-of-image marker before the data runs out.
namespace JpegCompleteness {

// Whether the file at `path`, when it is a JPEG (it starts with the start-of-image marker), holds
// a whole image. Any other file, and one that cannot be opened, is left to the decoder: true.
bool isComplete(const QString &path);

// The same for the bytes of a file.
bool isComplete(QByteArrayView data);

} // namespace JpegCompleteness

#endif // JPEGCOMPLETENESS_H
