#include "ProcessMemory.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <psapi.h>

namespace {

// Wine's ntdll exports its version; Windows' does not.
const char *wineVersion()
{
    using Version = const char *(__cdecl *)();
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const FARPROC found = ntdll ? GetProcAddress(ntdll, "wine_get_version") : nullptr;
    // Through void * so that the compiler does not take the pointer's type for the function's.
    return found ? reinterpret_cast<Version>(reinterpret_cast<void *>(found))() : nullptr;
}

} // namespace

ProcessMemory::Counters ProcessMemory::read()
{
    Counters counters;
    counters.sharedMissing = QStringLiteral("Windows counts the pages of shared memory in the working set and "
                                            "keeps no counter of its own for them");
    PROCESS_MEMORY_COUNTERS_EX info = {};
    info.cb = sizeof(info);
    if (!GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&info), info.cb)) {
        counters.privateMissing = QStringLiteral("GetProcessMemoryInfo failed, error %1").arg(GetLastError());
        return counters;
    }
    counters.resident = qint64(info.WorkingSetSize);
    counters.peakResident = qint64(info.PeakWorkingSetSize);
    // Windows gives the commit charge twice, as PrivateUsage and as PagefileUsage; Wine 8 fills
    // only the second.
    counters.privateBytes = qint64(info.PrivateUsage != 0 ? info.PrivateUsage : info.PagefileUsage);
    return counters;
}

// Windows keeps the peak working set for the life of the process.
bool ProcessMemory::resetPeak()
{
    return false;
}

QString ProcessMemory::platform()
{
    const char *wine = wineVersion();
    return wine ? QStringLiteral("Windows under Wine %1").arg(QString::fromLatin1(wine)) : QStringLiteral("Windows");
}
