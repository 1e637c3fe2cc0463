#ifndef HOSTCHANNEL_H
#define HOSTCHANNEL_H

#include "ChannelInfo.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <string>

namespace boost {
namespace interprocess {
class shared_memory_object;
class mapped_region;
} // namespace interprocess
} // namespace boost

// One channel as the host's filter module creates it: the data object (payload followed by the
// 16-byte guard) and the info object (payload size and a free lock). Objects are readable and
// writable by the creating user only. Destruction unmaps; only remove() deletes the names.
class HostChannel
{
public:
    static constexpr std::size_t GuardSize = 16;
    static constexpr unsigned char GuardByte = 0x08;

    explicit HostChannel(const std::string &name);
    ~HostChannel();

    bool create(uint64_t dataSize, QString *error);
    void remove();

    // Removes both objects of a channel by name; true when at least one existed.
    static bool removeNamed(const std::string &name);

    const std::string &name() const { return m_dataName; }
    unsigned char *data() const { return m_payload; }
    unsigned char *guard() const { return m_payload + m_payloadSize; }
    uint64_t dataSize() const { return m_payloadSize; }
    ChannelInfo *info() const { return m_infoWords; }

    bool tryLock();
    void unlock();
    // True while a thread other than the caller holds the lock.
    bool isHeldByOther() const;

private:
    std::string m_dataName;
    std::string m_infoName;
    uint64_t m_payloadSize = 0;
    unsigned char *m_payload = nullptr;
    ChannelInfo *m_infoWords = nullptr;
    std::unique_ptr<boost::interprocess::shared_memory_object> m_infoObject;
    std::unique_ptr<boost::interprocess::shared_memory_object> m_dataObject;
    std::unique_ptr<boost::interprocess::mapped_region> m_infoRegion;
    std::unique_ptr<boost::interprocess::mapped_region> m_dataRegion;
};

#endif // HOSTCHANNEL_H
