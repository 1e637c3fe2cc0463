#ifndef CHANNELLOCK_H
#define CHANNELLOCK_H

#include "ChannelInfo.h"

#include <cstdint>

// The recursive cross-process spin lock on the three words of a channel's info object. Both the
// application and the filter module (and its stand-in) use it; it never waits.
class ChannelLock
{
public:
    enum Result { Acquired = 0, Busy = 1 };

    // 0 when the calling thread now holds the lock (again), 1 when another thread holds it.
    static int tryLock(ChannelInfo *info);
    // Releases one level; the last level frees the lock. The caller is not compared with the
    // owner: a lock taken on one thread may be released from another.
    static void unlock(ChannelInfo *info);
    // Puts the words into the free state, as a freshly constructed lock.
    static void initialize(ChannelInfo *info);
    static bool isHeld(const ChannelInfo *info);
};

#endif // CHANNELLOCK_H
