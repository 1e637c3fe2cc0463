#include "LargeMemory.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace {

// Large pages need the right to lock pages in memory (SeLockMemoryPrivilege), which an
// administrator grants through the local security policy. A process holds it switched off, so it
// is switched on once; ERROR_NOT_ALL_ASSIGNED says the user does not hold it.
bool lockMemoryPrivilege()
{
    static const bool enabled = [] {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
            return false;
        TOKEN_PRIVILEGES privileges = {};
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        const bool held = LookupPrivilegeValueW(nullptr, L"SeLockMemoryPrivilege", &privileges.Privileges[0].Luid)
                          && AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr)
                          && GetLastError() == ERROR_SUCCESS;
        CloseHandle(token);
        return held;
    }();
    return enabled;
}

// Large pages arrive committed and resident in one call, without a fault for each 4 KiB page.
// Null without the privilege, or when no run of physically contiguous memory is free just now.
void *largePages(std::size_t bytes)
{
    const std::size_t page = GetLargePageMinimum();
    if (page == 0 || bytes < page || !lockMemoryPrivilege())
        return nullptr;
    const std::size_t rounded = (bytes + page - 1) / page * page;
    return ::VirtualAlloc(nullptr, rounded, MEM_RESERVE | MEM_COMMIT | MEM_LARGE_PAGES, PAGE_READWRITE);
}

} // namespace

// Otherwise small pages, first touched by the threads that fill them (the load splits by rows).
void *allocateLargeMemory(std::size_t bytes)
{
    if (void *memory = largePages(bytes))
        return memory;
    return ::VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void releaseLargeMemory(void *memory, std::size_t)
{
    ::VirtualFree(memory, 0, MEM_RELEASE);
}
