// SharedMemoryChannel's lock and close against channels created here the way the filter module
// creates them. Opening, the guard check and a lock held by another process are met by the
// filter-host runs of tst_pspluginlifecycle.

#include "ChannelLock.h"
#include "ChannelQtLog.h"
#include "HostChannel.h"
#include "SharedMemoryChannel.h"
#include "ThreadId.h"

#include <QCoreApplication>
#include <QTest>

#include <memory>
#include <thread>

namespace {

std::string uniqueName(const char *what)
{
    return "__ovtest_" + std::to_string(QCoreApplication::applicationPid()) + "_" + what;
}

// A channel of `size` bytes created as the filter module does, removed at the end of the test.
std::unique_ptr<HostChannel> createHostChannel(const std::string &name, uint64_t size)
{
    auto host = std::make_unique<HostChannel>(name);
    QString error;
    return host->create(size, &error) ? std::move(host) : nullptr;
}

} // namespace

class tst_SharedMemoryChannel : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { ChannelQtLog::install(); }
    void recursiveLockingAndUnlockFromAnotherThread();
    void closeRemovesBothObjects_data();
    void closeRemovesBothObjects();
};

void tst_SharedMemoryChannel::recursiveLockingAndUnlockFromAnotherThread()
{
    const std::string name = uniqueName("recursive");
    const auto host = createHostChannel(name, 8);
    QVERIFY(host);
    SharedMemoryChannel<char> channel(name, 0);
    QCOMPARE(channel.open(), 0);
    ChannelInfo *info = host->info();
    QCOMPARE(channel.tryLock(), 0);
    QCOMPARE(channel.tryLock(), 0);
    QCOMPARE(info->lockCount, 2u);
    QCOMPARE(info->lockOwner, currentThreadId());
    QCOMPARE(channel.unlock(), 0);
    QCOMPARE(info->lockWord, 1u);

    // Another thread is another owner: busy for it, yet its unlock releases the lock.
    int otherTryLock = -2;
    int otherUnlock = -2;
    std::thread other([&] {
        otherTryLock = channel.tryLock();
        otherUnlock = channel.unlock();
    });
    other.join();
    QCOMPARE(otherTryLock, 1);
    QCOMPARE(otherUnlock, 0);
    QCOMPARE(info->lockWord, 0u);
    QCOMPARE(info->lockOwner, ChannelInfo::NoOwner);
    host->remove();
}

void tst_SharedMemoryChannel::closeRemovesBothObjects_data()
{
    QTest::addColumn<bool>("openFirst");
    QTest::newRow("open channel") << true;
    QTest::newRow("never opened") << false; // removal goes by name, not by what this side mapped
}

void tst_SharedMemoryChannel::closeRemovesBothObjects()
{
    QFETCH(bool, openFirst);
    const std::string name = uniqueName("close");
    const auto host = createHostChannel(name, 8);
    QVERIFY(host);
    {
        SharedMemoryChannel<char> channel(name, 0);
        if (openFirst)
            QCOMPARE(channel.open(), 0);
        QCOMPARE(channel.close(), 0);
        QCOMPARE(channel.tryLock(), -1001);
    }
    QVERIFY(!HostChannel::removeNamed(name));
}

QTEST_GUILESS_MAIN(tst_SharedMemoryChannel)
#include "tst_sharedmemorychannel.moc"
