#ifndef FILEREPLACE_H
#define FILEREPLACE_H

#include <QString>

namespace FileReplace {

// Moves `from` onto `to` in one step, replacing whatever `to` is. A symbolic link at `to` is
// replaced itself, never followed. Both paths must be on the same file system.
bool replace(const QString &from, const QString &to, QString *error);

// Flushes the file's data to the storage device.
bool sync(const QString &path);

} // namespace FileReplace

#endif // FILEREPLACE_H
