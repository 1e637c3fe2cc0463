#include "ProcessProbe.h"

#include <windows.h>

namespace ProcessProbe {

bool isRunning(qint64 pid)
{
    const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, DWORD(pid));
    if (!process)
        return false;
    const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

void terminate(qint64 pid)
{
    const HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, DWORD(pid));
    if (!process)
        return;
    TerminateProcess(process, 9);
    CloseHandle(process);
}

} // namespace ProcessProbe
