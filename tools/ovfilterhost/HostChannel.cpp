#include "HostChannel.h"

#include "ChannelLock.h"
#include "HostObjects.h"
#include "HostPermissions.h"
#include "ThreadId.h"

#include <boost/interprocess/mapped_region.hpp>
#include <boost/interprocess/shared_memory_object.hpp>

#include <atomic>
#include <cstring>
#include <exception>

namespace bip = boost::interprocess;

HostChannel::HostChannel(const std::string &name)
    : m_dataName(name)
    , m_infoName(name + "Info")
{
}

HostChannel::~HostChannel() = default;

bool HostChannel::create(uint64_t dataSize, QString *error)
{
    bip::permissions ownerOnly;
    std::string failure;
    if (!HostPermissions::ownerOnly(ownerOnly, failure)) {
        if (error)
            *error = QStringLiteral("cannot create shared memory %1: %2")
                         .arg(QString::fromStdString(m_dataName), QString::fromStdString(failure));
        return false;
    }
    try {
        m_infoObject = std::make_unique<bip::shared_memory_object>(bip::create_only, m_infoName.c_str(),
                                                                   bip::read_write, ownerOnly);
        m_infoObject->truncate(sizeof(ChannelInfo));
        m_dataObject = std::make_unique<bip::shared_memory_object>(bip::create_only, m_dataName.c_str(),
                                                                   bip::read_write, ownerOnly);
        m_dataObject->truncate(static_cast<bip::offset_t>(dataSize + GuardSize));
        m_infoRegion = std::make_unique<bip::mapped_region>(*m_infoObject, bip::read_write);
        m_dataRegion = std::make_unique<bip::mapped_region>(*m_dataObject, bip::read_write);
    } catch (const std::exception &e) {
        if (error)
            *error = QStringLiteral("cannot create shared memory %1: %2")
                         .arg(QString::fromStdString(m_dataName), QString::fromUtf8(e.what()));
        return false;
    }
    m_payloadSize = dataSize;
    m_payload = static_cast<unsigned char *>(m_dataRegion->get_address());
    m_infoWords = static_cast<ChannelInfo *>(m_infoRegion->get_address());
    std::memset(guard(), GuardByte, GuardSize);
    m_infoWords->dataSize = dataSize;
    ChannelLock::initialize(m_infoWords);
    return true;
}

void HostChannel::remove()
{
    m_dataRegion.reset();
    m_infoRegion.reset();
    m_dataObject.reset();
    m_infoObject.reset();
    m_payload = nullptr;
    m_infoWords = nullptr;
    removeNamed(m_dataName);
}

bool HostChannel::removeNamed(const std::string &name)
{
    const auto removeOne = [](const std::string &object) {
        return bip::shared_memory_object::remove(object.c_str()) || HostObjects::removeLeftover(object);
    };
    const bool info = removeOne(name + "Info");
    const bool data = removeOne(name);
    return info || data;
}

bool HostChannel::tryLock()
{
    return ChannelLock::tryLock(m_infoWords) == ChannelLock::Acquired;
}

void HostChannel::unlock()
{
    ChannelLock::unlock(m_infoWords);
}

bool HostChannel::isHeldByOther() const
{
    if (!ChannelLock::isHeld(m_infoWords))
        return false;
    const auto &owner = reinterpret_cast<const std::atomic<uint32_t> &>(m_infoWords->lockOwner);
    return owner.load(std::memory_order_acquire) != currentThreadId();
}
