#include "InstanceLock.h"

#include <windows.h>

InstanceLock::~InstanceLock()
{
    unlock();
}

// A named mutex: when its owner ends without releasing it, the next wait gets it as abandoned,
// which for us means the same as free.
bool InstanceLock::tryLock(const QString &name)
{
    if (isLocked())
        return true;
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, reinterpret_cast<const wchar_t *>(name.utf16()));
    if (!mutex)
        return false;
    const DWORD result = WaitForSingleObject(mutex, 0);
    if (result != WAIT_OBJECT_0 && result != WAIT_ABANDONED) {
        CloseHandle(mutex);
        return false;
    }
    m_handle = reinterpret_cast<qintptr>(mutex);
    return true;
}

bool InstanceLock::isLocked() const
{
    return m_handle != -1;
}

void InstanceLock::unlock()
{
    if (!isLocked())
        return;
    const HANDLE mutex = reinterpret_cast<HANDLE>(m_handle);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    m_handle = -1;
}
