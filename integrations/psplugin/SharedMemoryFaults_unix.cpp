#include "SharedMemoryFaults.h"

#include "IPCParams.h"

#include <atomic>
#include <csignal>
#include <cstdint>
#include <unistd.h>

namespace {

struct Range
{
    std::uintptr_t begin;
    std::uintptr_t end;
};

// Param, three planes and mask, each with its info object, and room to spare.
constexpr int MaxRanges = 16;
Range ranges[MaxRanges];
// A range is written before the count that publishes it, so the handler never reads a half one.
std::atomic<int> rangeCount{0};

bool watched(std::uintptr_t address)
{
    const int count = rangeCount.load(std::memory_order_acquire);
    for (int i = 0; i < count; ++i) {
        if (address >= ranges[i].begin && address < ranges[i].end)
            return true;
    }
    return false;
}

// Only async-signal-safe calls: the message logger may hold a lock of the faulting thread.
void onBusError(int signalNumber, siginfo_t *info, void *)
{
    const bool fault = info->si_code > 0; // not sent with kill()
    if (fault && watched(reinterpret_cast<std::uintptr_t>(info->si_addr))) {
        static const char message[] = "Shared memory of the filter module was cut short while in use; ending\n";
        [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, message, sizeof(message) - 1);
        ::_exit(FatalExitCode);
    }
    // Not ours: the default action, as if there were no handler. A fault repeats the access on
    // return and ends the process there.
    ::signal(signalNumber, SIG_DFL);
    if (!fault)
        ::raise(signalNumber);
}

} // namespace

void SharedMemoryFaults::watch(const void *begin, std::size_t size)
{
    const int index = rangeCount.load(std::memory_order_relaxed);
    if (!begin || size == 0 || index >= MaxRanges)
        return;
    const auto start = reinterpret_cast<std::uintptr_t>(begin);
    ranges[index] = {start, start + size};
    rangeCount.store(index + 1, std::memory_order_release);
    if (index > 0)
        return;
    struct sigaction action = {};
    action.sa_sigaction = onBusError;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO;
    ::sigaction(SIGBUS, &action, nullptr);
}
