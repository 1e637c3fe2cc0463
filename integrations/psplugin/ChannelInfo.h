#ifndef CHANNELINFO_H
#define CHANNELINFO_H

#include <cstddef>
#include <cstdint>

// Contents of a channel's info object. The three lock words are the leading words of the lock
// that the filter module constructs at offset 8; both programs poll and release them by hand.
struct ChannelInfo
{
    static constexpr uint32_t NoOwner = 0xFFFFFFFFu;

    uint64_t dataSize;
    uint32_t lockWord;
    uint32_t lockCount;
    uint32_t lockOwner;
};

static_assert(offsetof(ChannelInfo, dataSize) == 0, "ChannelInfo layout");
static_assert(offsetof(ChannelInfo, lockWord) == 8, "ChannelInfo layout");
static_assert(offsetof(ChannelInfo, lockCount) == 12, "ChannelInfo layout");
static_assert(offsetof(ChannelInfo, lockOwner) == 16, "ChannelInfo layout");

// The info object must at least reach the end of the owner word.
constexpr std::size_t ChannelInfoMinimumSize = offsetof(ChannelInfo, lockOwner) + sizeof(uint32_t);

#endif // CHANNELINFO_H
