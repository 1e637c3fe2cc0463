#include "FolderWalk.h"

#include <QDir>
#include <QDirIterator>

QStringList FolderWalk::files(const QString &folder)
{
    QStringList result;
    if (folder.isEmpty())
        return result;
    QDirIterator it(folder, {QStringLiteral("*.*")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        result << it.next();
    return result;
}
