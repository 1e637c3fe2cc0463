// SharedMemoryChannel's lock and close against channels created here the way the filter module
// creates them. Opening, the guard check and a lock held by another process are met by the
// filter-host runs of tst_pspluginlifecycle and tst_faultyfiltermodule.

#include "ChannelLock.h"
#include "ChannelQtLog.h"
#include "ChannelResult.h"
#include "HostChannel.h"
#include "SharedMemoryChannel.h"
#include "ThreadId.h"

#include <QCoreApplication>
#include <QTest>

#include <boost/interprocess/exceptions.hpp>

#include <memory>
#include <thread>

namespace {

// A channel of 8 bytes under a name of this process, created as the filter module does.
std::unique_ptr<HostChannel> createHostChannel(const char *what)
{
    auto host = std::make_unique<HostChannel>("__ovtest_" + std::to_string(QCoreApplication::applicationPid()) + what);
    QString error;
    return host->create(8, &error) ? std::move(host) : nullptr;
}

} // namespace

class tst_SharedMemoryChannel : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { ChannelQtLog::install(); }
    void recursiveLockingAndUnlockFromAnotherThread();
    void countOverflowRaisesBoostsError();
    void closeRemovesBothObjects_data();
    void closeRemovesBothObjects();
};

void tst_SharedMemoryChannel::recursiveLockingAndUnlockFromAnotherThread()
{
    const auto host = createHostChannel("recursive");
    QVERIFY(host);
    SharedMemoryChannel<char> channel(host->name(), 0);
    QCOMPARE(channel.open(), ChannelOk);
    ChannelInfo *info = host->info();
    QCOMPARE(channel.tryLock(), ChannelOk);
    QCOMPARE(channel.tryLock(), ChannelOk);
    QCOMPARE(info->lockCount, 2u);
    QCOMPARE(info->lockOwner, currentThreadId());
    QCOMPARE(channel.unlock(), ChannelOk);
    QCOMPARE(info->lockWord, 1u);

    // Another thread is another owner: busy for it, yet its unlock releases the lock.
    int otherTryLock = -2;
    int otherUnlock = -2;
    std::thread other([&] {
        otherTryLock = channel.tryLock();
        otherUnlock = channel.unlock();
    });
    other.join();
    QCOMPARE(otherTryLock, ChannelLockHeld);
    QCOMPARE(otherUnlock, ChannelOk);
    QCOMPARE(info->lockWord, 0u);
    QCOMPARE(info->lockOwner, ChannelInfo::NoOwner);
    host->remove();
}

// Answered as busy, an overflow would keep a caller that retries (the load's lock loop) spinning.
void tst_SharedMemoryChannel::countOverflowRaisesBoostsError()
{
    const auto host = createHostChannel("overflow");
    QVERIFY(host);
    SharedMemoryChannel<char> channel(host->name(), 0);
    QCOMPARE(channel.open(), ChannelOk);
    QCOMPARE(channel.tryLock(), ChannelOk);
    ChannelInfo *info = host->info();
    info->lockCount = 0xFFFFFFFFu;
    QString what;
    try {
        channel.tryLock();
    } catch (const boost::interprocess::interprocess_exception &error) {
        what = QString::fromLatin1(error.what());
    }
    QCOMPARE(what, QStringLiteral("boost::interprocess::spin_recursive_mutex recursive lock overflow"));
    QCOMPARE(info->lockCount, 0xFFFFFFFFu);
    info->lockCount = 1;
    QCOMPARE(channel.unlock(), ChannelOk);
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
    const auto host = createHostChannel("close");
    QVERIFY(host);
    {
        SharedMemoryChannel<char> channel(host->name(), 0);
        if (openFirst)
            QCOMPARE(channel.open(), ChannelOk);
        QCOMPARE(channel.close(), ChannelOk);
        QCOMPARE(channel.tryLock(), ChannelNotOpen);
    }
    QVERIFY(!HostChannel::removeNamed(host->name()));
}

QTEST_GUILESS_MAIN(tst_SharedMemoryChannel)
#include "tst_sharedmemorychannel.moc"
