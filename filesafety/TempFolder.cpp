#include "TempFolder.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <atomic>

namespace {

bool isUsable(const QString &folder)
{
    const QFileInfo info(folder);
    return !folder.isEmpty() && info.isAbsolute() && info.isDir() && info.isWritable();
}

// Private to the user: the names made here are predictable.
QString privateFolder()
{
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    if (cache.isEmpty())
        return QString();
    const QString folder = QDir(cache).filePath(QStringLiteral("temp"));
    if (!QDir().mkpath(folder))
        return QString();
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return folder;
}

// Once per run: the folder is asked for at every thumbnail.
void warnOnce(const QString &temporary, const QString &instead)
{
    static std::atomic_bool warned{false};
    if (!warned.exchange(true))
        qWarning() << "The temporary folder" << temporary << "cannot be used; using" << instead << "instead";
}

} // namespace

namespace TempFolder {

QString path()
{
    const QString temporary = QDir::tempPath();
    if (isUsable(temporary))
        return temporary;
    const QString folder = privateFolder();
    warnOnce(temporary, folder);
    return folder;
}

QString filePath(const QString &fileName)
{
    const QString folder = path();
    return folder.isEmpty() ? QString() : folder + QLatin1Char('/') + fileName;
}

} // namespace TempFolder
