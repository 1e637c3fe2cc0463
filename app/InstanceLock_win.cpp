#include "InstanceLock.h"

#include <windows.h>

// A named mutex: when its owner ends without releasing it, the next wait gets it as abandoned,
// which for us means the same as free.
qintptr InstanceLock::tryLock_sys(const QString &name)
{
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, reinterpret_cast<const wchar_t *>(name.utf16()));
    if (!mutex)
        return NoHandle;
    const DWORD result = WaitForSingleObject(mutex, 0);
    if (result != WAIT_OBJECT_0 && result != WAIT_ABANDONED) {
        CloseHandle(mutex);
        return NoHandle;
    }
    return reinterpret_cast<qintptr>(mutex);
}

void InstanceLock::unlock_sys(qintptr handle)
{
    const HANDLE mutex = reinterpret_cast<HANDLE>(handle);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}
