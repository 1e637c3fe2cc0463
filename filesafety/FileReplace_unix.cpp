#include "FileReplace.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace FileReplace {

bool replace(const QString &from, const QString &to, QString *error)
{
    // rename(2) replaces the directory entry, so a link at `to` is swapped out, not written through.
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    if (error)
        *error = QString::fromLocal8Bit(std::strerror(errno));
    return false;
}

bool keepOwner(const QString &file, const QString &like, QString *error)
{
    struct stat wanted;
    struct stat current;
    if (::stat(QFile::encodeName(like).constData(), &wanted) != 0)
        return true; // nothing to keep
    if (::stat(QFile::encodeName(file).constData(), &current) == 0 && current.st_uid == wanted.st_uid
        && current.st_gid == wanted.st_gid)
        return true;
    if (::chown(QFile::encodeName(file).constData(), wanted.st_uid, wanted.st_gid) == 0)
        return true;
    if (error)
        *error = QStringLiteral("cannot keep the owner and group of the file: %1")
                     .arg(QString::fromLocal8Bit(std::strerror(errno)));
    return false;
}

bool isReadOnly(const QString &path)
{
    struct stat info;
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode)
           && (info.st_mode & S_IWUSR) == 0;
}

bool sync(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

} // namespace FileReplace
