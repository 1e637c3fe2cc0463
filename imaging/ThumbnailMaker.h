#ifndef THUMBNAILMAKER_H
#define THUMBNAILMAKER_H

#include <QByteArray>
#include <QString>

// Makes a small upright JPEG from an embedded preview or, failing that, from a reduced decode
// of the source. Runs on any thread; touches nothing but the files named.
namespace ThumbnailMaker {

constexpr int LongSide = 512;

bool make(const QString &sourcePath, const QString &thumbnailPath, int orientation, const QByteArray &embeddedPreview);

} // namespace ThumbnailMaker

#endif // THUMBNAILMAKER_H
