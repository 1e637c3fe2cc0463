#include "InstanceLock.h"

InstanceLock::~InstanceLock()
{
    unlock();
}

bool InstanceLock::tryLock(const QString &name)
{
    if (!isLocked())
        m_handle = tryLock_sys(name);
    return isLocked();
}

bool InstanceLock::isLocked() const
{
    return m_handle != NoHandle;
}

void InstanceLock::unlock()
{
    if (!isLocked())
        return;
    unlock_sys(m_handle);
    m_handle = NoHandle;
}
