#include "InstanceLock.h"

#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

InstanceLock::~InstanceLock()
{
    unlock();
}

// An flock on a file in the private folder. The file itself stays: removing it would let a
// later launch lock a new file while an older one still holds the old. Close-on-exec keeps
// helper processes (ExifTool) from inheriting the lock and outliving us with it.
bool InstanceLock::tryLock(const QString &name)
{
    if (isLocked())
        return true;
    const int fd = ::open(QFile::encodeName(name).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    m_handle = fd;
    return true;
}

bool InstanceLock::isLocked() const
{
    return m_handle >= 0;
}

void InstanceLock::unlock()
{
    if (isLocked())
        ::close(int(m_handle));
    m_handle = -1;
}
