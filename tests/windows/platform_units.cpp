// The Windows units that need no Qt, each exercised once: the thread id the lock records, and
// the large-page memory that whole images are copied into. One "PASS"/"FAIL" line each.
#include "LargeMemory.h"
#include "ThreadId.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <thread>

namespace {

int failures = 0;

void report(bool ok, const char *what)
{
    std::printf("%s %s\n", ok ? "PASS" : "FAIL", what);
    if (!ok)
        ++failures;
}

} // namespace

int main()
{
    const uint32_t mine = currentThreadId();
    uint32_t other = 0;
    uint32_t otherNative = 0;
    std::thread([&] {
        other = currentThreadId();
        otherNative = GetCurrentThreadId();
    }).join();
    report(mine == GetCurrentThreadId() && other == otherNative && other != mine && mine != 0,
           "thread id: the system's id of each calling thread");

    const std::size_t bytes = 48u << 20;
    auto *memory = static_cast<unsigned char *>(allocateLargeMemory(bytes));
    bool usable = memory != nullptr;
    if (usable) {
        std::memset(memory, 0x5A, bytes);
        usable = memory[0] == 0x5A && memory[bytes - 1] == 0x5A;
        releaseLargeMemory(memory, bytes);
        MEMORY_BASIC_INFORMATION info{};
        usable = usable && VirtualQuery(memory, &info, sizeof(info)) != 0 && info.State == MEM_FREE;
    }
    report(usable, "large memory: 48 MiB allocated, written end to end and given back");
    return failures == 0 ? 0 : 1;
}
