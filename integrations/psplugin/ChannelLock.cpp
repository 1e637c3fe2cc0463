#include "ChannelLock.h"

#include "ThreadId.h"

#include <boost/interprocess/exceptions.hpp>

#include <atomic>

namespace {

// The words live in memory that another process maps, so they are accessed as atomics laid
// over the plain words; that needs an atomic of exactly the word's size and no lock inside.
static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t), "atomic word layout");
static_assert(std::atomic<uint32_t>::is_always_lock_free, "atomic word must be lock-free");

std::atomic<uint32_t> &word(uint32_t &plain)
{
    return reinterpret_cast<std::atomic<uint32_t> &>(plain);
}

const std::atomic<uint32_t> &word(const uint32_t &plain)
{
    return reinterpret_cast<const std::atomic<uint32_t> &>(plain);
}

} // namespace

int ChannelLock::tryLock(ChannelInfo *info)
{
    const uint32_t me = currentThreadId();
    if (word(info->lockOwner).load(std::memory_order_acquire) == me) {
        const uint32_t count = word(info->lockCount).load(std::memory_order_relaxed);
        // Boost's own recursive mutex throws here, and a host built on it sees the same: a busy
        // answer instead would have a caller that retries spin for ever.
        if (count + 1 == 0)
            throw boost::interprocess::interprocess_exception(
                "boost::interprocess::spin_recursive_mutex recursive lock overflow");
        word(info->lockCount).store(count + 1, std::memory_order_relaxed);
        return Acquired;
    }
    uint32_t expected = 0;
    if (word(info->lockWord).compare_exchange_strong(expected, 1, std::memory_order_acq_rel)
        && word(info->lockWord).load(std::memory_order_acquire) == 1) {
        word(info->lockOwner).store(me, std::memory_order_relaxed);
        word(info->lockCount).store(1, std::memory_order_release);
        return Acquired;
    }
    return Busy;
}

void ChannelLock::unlock(ChannelInfo *info)
{
    const uint32_t count = word(info->lockCount).load(std::memory_order_relaxed) - 1;
    word(info->lockCount).store(count, std::memory_order_relaxed);
    if (count == 0) {
        word(info->lockOwner).store(ChannelInfo::NoOwner, std::memory_order_relaxed);
        uint32_t expected = 1;
        word(info->lockWord).compare_exchange_strong(expected, 0, std::memory_order_acq_rel);
    }
}

void ChannelLock::initialize(ChannelInfo *info)
{
    word(info->lockCount).store(0, std::memory_order_relaxed);
    word(info->lockOwner).store(ChannelInfo::NoOwner, std::memory_order_relaxed);
    word(info->lockWord).store(0, std::memory_order_release);
}

bool ChannelLock::isHeld(const ChannelInfo *info)
{
    return word(info->lockWord).load(std::memory_order_acquire) != 0;
}
