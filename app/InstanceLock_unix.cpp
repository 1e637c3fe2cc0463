#include "InstanceLock.h"

#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

// An flock on a file in the private folder. The file itself stays: removing it would let a
// later launch lock a new file while an older one still holds the old. Close-on-exec keeps
// helper processes (ExifTool) from inheriting the lock and outliving us with it.
qintptr InstanceLock::tryLock_sys(const QString &name)
{
    const int fd = ::open(QFile::encodeName(name).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return NoHandle;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return NoHandle;
    }
    return fd;
}

void InstanceLock::unlock_sys(qintptr handle)
{
    ::close(int(handle));
}
