#include "FolderWalk.h"

#include <QDir>
#include <QDirIterator>

QStringList FolderWalk::files(const QString &folder)
{
    QStringList result;
    if (folder.isEmpty())
        return result;
    // Names with a dot, the "*.*" of a file manager, chosen by hand: a name filter would run a
    // regular expression on the calling thread, which may be the back end's, and Qt's thread_local
    // stack for those can fault in MinGW's thread runtime as that thread ends.
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (it.fileName().contains(QLatin1Char('.')))
            result << path;
    }
    return result;
}
