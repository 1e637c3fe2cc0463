#include "InstanceName.h"

#include "TempFolder.h"

#include <QDebug>
#include <QDir>
#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Whoever can enter or change the folder could plant a socket under our name and be handed the
// file names of the next launch, so only a real folder (not a link) that belongs to this user
// and is closed to everybody else will do.
bool isPrivateFolder(const QString &folder)
{
    struct stat info = {};
    return QDir::isAbsolutePath(folder) && ::lstat(QFile::encodeName(folder).constData(), &info) == 0
           && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 077) == 0;
}

QString temporaryFolder()
{
    // Never the root folder: an unusable TMPDIR gives way to a private folder of the application's.
    const QString parent = TempFolder::path();
    if (parent.isEmpty())
        return QString();
    const QString folder = parent + QStringLiteral("/lumivex-%1").arg(::geteuid());
    ::mkdir(QFile::encodeName(folder).constData(), 0700); // one that exists is judged by the caller
    return folder;
}

// The runtime folder when the session has one; otherwise a folder of our own in the temporary
// folder, which is shared by every user and so only the parent of ours. A runtime folder that
// fails the check is replaced the same way, with a warning, as the XDG base directory rules ask.
QString privateFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && isPrivateFolder(runtime))
        return runtime;
    const QString folder = temporaryFolder();
    if (!runtime.isEmpty())
        qWarning() << "XDG_RUNTIME_DIR" << runtime << "is not private to this user; using" << folder << "instead";
    if (isPrivateFolder(folder))
        return folder;
    qWarning() << "Refusing the instance folder" << folder << "- it is not private to this user";
    return QString();
}

QString inPrivateFolder(const QString &fileName)
{
    const QString folder = privateFolder();
    return folder.isEmpty() ? QString() : folder + QLatin1Char('/') + fileName;
}

} // namespace

QString InstanceName::serverName_sys(const QString &digest)
{
    return inPrivateFolder(QStringLiteral("lumivex-%1-%2").arg(::geteuid()).arg(digest));
}

QString InstanceName::lockName_sys(const QString &digest)
{
    return inPrivateFolder(QStringLiteral("lumivex-%1-%2.lock").arg(::geteuid()).arg(digest));
}
