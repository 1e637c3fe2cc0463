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
    : dataName(name)
    , infoName(name + "Info")
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
                         .arg(QString::fromStdString(dataName), QString::fromStdString(failure));
        return false;
    }
    try {
        infoObject = std::make_unique<bip::shared_memory_object>(bip::create_only, infoName.c_str(),
                                                                 bip::read_write, ownerOnly);
        infoObject->truncate(sizeof(ChannelInfo));
        dataObject = std::make_unique<bip::shared_memory_object>(bip::create_only, dataName.c_str(),
                                                                 bip::read_write, ownerOnly);
        dataObject->truncate(static_cast<bip::offset_t>(dataSize + GuardSize));
        infoRegion = std::make_unique<bip::mapped_region>(*infoObject, bip::read_write);
        dataRegion = std::make_unique<bip::mapped_region>(*dataObject, bip::read_write);
    } catch (const std::exception &e) {
        if (error)
            *error = QStringLiteral("cannot create shared memory %1: %2")
                         .arg(QString::fromStdString(dataName), QString::fromUtf8(e.what()));
        return false;
    }
    payloadSize = dataSize;
    payload = static_cast<unsigned char *>(dataRegion->get_address());
    infoWords = static_cast<ChannelInfo *>(infoRegion->get_address());
    std::memset(guard(), GuardByte, GuardSize);
    infoWords->dataSize = dataSize;
    ChannelLock::initialize(infoWords);
    return true;
}

void HostChannel::remove()
{
    dataRegion.reset();
    infoRegion.reset();
    dataObject.reset();
    infoObject.reset();
    payload = nullptr;
    infoWords = nullptr;
    removeNamed(dataName);
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
    return ChannelLock::tryLock(infoWords) == ChannelLock::Acquired;
}

void HostChannel::unlock()
{
    ChannelLock::unlock(infoWords);
}

bool HostChannel::isHeldByOther() const
{
    if (!ChannelLock::isHeld(infoWords))
        return false;
    const auto &owner = reinterpret_cast<const std::atomic<uint32_t> &>(infoWords->lockOwner);
    return owner.load(std::memory_order_acquire) != currentThreadId();
}
