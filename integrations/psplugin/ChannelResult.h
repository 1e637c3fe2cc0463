#ifndef CHANNELRESULT_H
#define CHANNELRESULT_H

#include <cstdint>

// The answers of the channel operations. The filter module's side knows them by these values,
// and the operations hand them over as signed 32-bit codes.
enum ChannelResult : int32_t {
    ChannelOk = 0, // success; for tryLock, the lock is now held
    ChannelLockHeld = 1, // tryLock: someone else holds the lock
    ChannelNotOpen = -1001, // no info object is mapped
    ChannelUnlockFailed = -1002, // unlock raised an exception
    ChannelAlreadyOpen = -1003, // open on a channel that is open
    ChannelGuardDamaged = -1005, // the guard behind the payload is not intact
    ChannelOpenFailed = -1006, // a named object could not be opened
};

#endif // CHANNELRESULT_H
