#ifndef TEMPFOLDER_H
#define TEMPFOLDER_H

#include <QString>

// Where the back ends put the files they make for themselves (thumbnails, dropped images, the
// "Apple Photos" route's result before it replaces the original). That is the system's temporary
// folder, unless it cannot be used: Qt gives an empty path for a TMPDIR that names no folder, and
// joining a file name to that would write into the root folder. Then a private folder in the
// application's own cache folder takes its place, with a warning.
namespace TempFolder {

// The folder, without a trailing separator; empty when neither can be had.
QString path();

// `fileName` in that folder; empty when there is no folder, so that nothing is written.
QString filePath(const QString &fileName);

} // namespace TempFolder

#endif // TEMPFOLDER_H
