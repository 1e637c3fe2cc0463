#ifndef SHAREDMEMORYCHANNEL_H
#define SHAREDMEMORYCHANNEL_H

#include "ChannelInfo.h"
#include "ChannelLock.h"
#include "ChannelLog.h"
#include "ChannelResult.h"

#include <boost/interprocess/mapped_region.hpp>
#include <boost/interprocess/shared_memory_object.hpp>

#include <cstdint>
#include <exception>
#include <memory>
#include <string>

// One named channel of the filter module: a data object holding the payload (and a guard
// behind it) and an info object holding the payload size and the lock. The filter module
// creates both; this side only opens, locks, verifies and, for a transient channel, removes them.
template<typename Payload>
class SharedMemoryChannel
{
public:
    static constexpr std::size_t GuardSize = 16;
    static constexpr unsigned char GuardByte = 0x08;

    SharedMemoryChannel(const std::string &name, uint64_t size)
        : m_shmDataName(name)
        , m_shmInfoName(name + "Info")
        , m_payloadSize(size)
    {
    }

    ~SharedMemoryChannel() { close(); }

    SharedMemoryChannel(const SharedMemoryChannel &) = delete;
    SharedMemoryChannel &operator=(const SharedMemoryChannel &) = delete;

    int32_t open()
    {
        ChannelLog::write(ChannelLog::Level::Info,
                          "Opening shmInfoName " + m_shmInfoName + " shmDataName " + m_shmDataName);
        if (m_infoObject) {
            ChannelLog::write(ChannelLog::Level::Warning, "Already opened");
            return ChannelAlreadyOpen;
        }
        using namespace boost::interprocess;
        std::unique_ptr<shared_memory_object> info;
        std::unique_ptr<shared_memory_object> dataObj;
        try {
            info = std::make_unique<shared_memory_object>(open_only, m_shmInfoName.c_str(), read_write);
            dataObj = std::make_unique<shared_memory_object>(open_only, m_shmDataName.c_str(), read_write);
        } catch (const std::exception &e) {
            logOpenFailure(e.what());
            return ChannelOpenFailed;
        }
        // Mapping failures are not the named objects' absence, but they leave nothing usable
        // either; they are reported the same way rather than escaping as exceptions.
        std::unique_ptr<mapped_region> infoMap;
        std::unique_ptr<mapped_region> dataMap;
        try {
            infoMap = std::make_unique<mapped_region>(*info, read_write);
            dataMap = std::make_unique<mapped_region>(*dataObj, read_write);
        } catch (const std::exception &e) {
            logOpenFailure(e.what());
            return ChannelOpenFailed;
        }
        if (infoMap->get_size() < ChannelInfoMinimumSize) {
            logOpenFailure("info object too small: " + std::to_string(infoMap->get_size()));
            return ChannelOpenFailed;
        }
        m_infoObject = std::move(info);
        m_dataObject = std::move(dataObj);
        m_infoRegion = std::move(infoMap);
        m_dataRegion = std::move(dataMap);
        m_payload = static_cast<Payload *>(m_dataRegion->get_address());
        m_infoPointer = static_cast<ChannelInfo *>(m_infoRegion->get_address());
        m_payloadSize = m_infoPointer->dataSize;
        return ChannelOk;
    }

    int32_t tryLock()
    {
        if (!m_infoObject)
            return ChannelNotOpen;
        return ChannelLock::tryLock(m_infoPointer) == ChannelLock::Acquired ? ChannelOk : ChannelLockHeld;
    }

    int32_t unlock()
    {
        if (!m_infoObject)
            return ChannelNotOpen;
        try {
            ChannelLock::unlock(m_infoPointer);
        } catch (...) {
            return ChannelUnlockFailed;
        }
        return ChannelOk;
    }

    // A payload size that reaches past the mapping counts as a damaged guard: the guard is
    // not there to be read.
    int32_t verify() const
    {
        if (!m_dataRegion || m_payloadSize > mappedSize() || mappedSize() - m_payloadSize < GuardSize)
            return ChannelGuardDamaged;
        const auto *guard = reinterpret_cast<const unsigned char *>(m_payload) + m_payloadSize;
        for (std::size_t i = 0; i < GuardSize; ++i) {
            if (guard[i] != GuardByte)
                return ChannelGuardDamaged;
        }
        return ChannelOk;
    }

    Payload *data() const { return m_payload; }
    uint64_t size() const { return m_payloadSize; }
    // Bytes actually mapped for the data object; the payload size comes from the other side
    // and is only trusted up to this.
    uint64_t mappedSize() const { return m_dataRegion ? m_dataRegion->get_size() : 0; }
    ChannelInfo *info() const { return m_infoPointer; }
    const std::string &name() const { return m_shmDataName; }

    int32_t close()
    {
        using boost::interprocess::shared_memory_object;
        // By name, whether or not this side ever opened them: closing a channel means the
        // filter module's objects are gone.
        shared_memory_object::remove(m_shmInfoName.c_str());
        shared_memory_object::remove(m_shmDataName.c_str());
        m_infoRegion.reset();
        m_dataRegion.reset();
        m_infoObject.reset();
        m_dataObject.reset();
        m_payload = nullptr;
        m_infoPointer = nullptr;
        return ChannelOk;
    }

private:
    static void logOpenFailure(const std::string &reason)
    {
        ChannelLog::write(ChannelLog::Level::Critical, "Unable to allocate space for shared memory objects. " + reason);
    }

    std::string m_shmDataName;
    std::string m_shmInfoName;
    uint64_t m_payloadSize = 0;
    Payload *m_payload = nullptr;
    ChannelInfo *m_infoPointer = nullptr;
    std::unique_ptr<boost::interprocess::shared_memory_object> m_infoObject;
    std::unique_ptr<boost::interprocess::shared_memory_object> m_dataObject;
    std::unique_ptr<boost::interprocess::mapped_region> m_infoRegion;
    std::unique_ptr<boost::interprocess::mapped_region> m_dataRegion;
};

#endif // SHAREDMEMORYCHANNEL_H
