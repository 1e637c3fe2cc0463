#ifndef FILEREPLACE_H
#define FILEREPLACE_H

#include <QString>

namespace FileReplace {

// The platform half of AtomicFileWriter.

// Moves `from` onto `to` in one step, replacing whatever `to` is. A symbolic link at `to` is
// replaced itself, never followed. Both paths must be on the same file system.
bool replace(const QString &from, const QString &to, QString *error);

// Gives `file` the owner and group of `like`. Fails (with `error`) where the process may not set
// them, so that a save never hands another user's file over to the one saving it.
bool keepOwner(const QString &file, const QString &like, QString *error);

// Whether the user has marked `path` as not to be changed: the owner's write permission taken
// away on Unix, the read-only attribute on Windows. Such a file is refused, never replaced, even
// where the folder would allow the rename (as it always does for root).
bool isReadOnly(const QString &path);

// Flushes the file's data to the storage device.
bool sync(const QString &path);

} // namespace FileReplace

#endif // FILEREPLACE_H
