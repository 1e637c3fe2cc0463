// SharedMemoryChannel against channels created here the way the filter module creates them,
// with the other side of the lock played by a second process (pslockholder) where it matters.

#include "ChannelLock.h"
#include "ChannelQtLog.h"
#include "HostChannel.h"
#include "SharedMemoryChannel.h"
#include "TestHelpers.h"
#include "ThreadId.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTest>

#include <boost/interprocess/shared_memory_object.hpp>

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
    void openMapsTheModulesMemory();
    void openFailures_data();
    void openFailures();
    void verifyLooksAtTheSixteenBytesBehindThePayload_data();
    void verifyLooksAtTheSixteenBytesBehindThePayload();
    void recursiveLockingAndUnlockFromAnotherThread();
    void lockHeldByAnotherProcess();
    void closeRemovesBothObjects_data();
    void closeRemovesBothObjects();
};

void tst_SharedMemoryChannel::openMapsTheModulesMemory()
{
    const std::string name = uniqueName("open");
    const auto host = createHostChannel(name, 1000);
    QVERIFY(host);
    host->data()[0] = 42;
    SharedMemoryChannel<unsigned char> channel(name, 0);
    QCOMPARE(channel.open(), 0);
    QCOMPARE(channel.size(), uint64_t(1000));
    QCOMPARE(int(channel.data()[0]), 42);
    channel.data()[999] = 7;
    QCOMPARE(int(host->data()[999]), 7);
    QCOMPARE(channel.open(), -1003); // a second open keeps the first mapping
    QCOMPARE(int(channel.data()[0]), 42);
    host->remove();
}

void tst_SharedMemoryChannel::openFailures_data()
{
    QTest::addColumn<bool>("keepInfo");
    QTest::addColumn<bool>("keepData");
    QTest::newRow("neither object") << false << false;
    QTest::newRow("info without data") << true << false;
    QTest::newRow("data without info") << false << true;
}

void tst_SharedMemoryChannel::openFailures()
{
    QFETCH(bool, keepInfo);
    QFETCH(bool, keepData);
    const std::string name = uniqueName("fail");
    const auto host = createHostChannel(name, 32);
    QVERIFY(host);
    if (!keepInfo)
        boost::interprocess::shared_memory_object::remove((name + "Info").c_str());
    if (!keepData)
        boost::interprocess::shared_memory_object::remove(name.c_str());
    SharedMemoryChannel<char> channel(name, 0);
    QCOMPARE(channel.open(), -1006);
    QCOMPARE(channel.tryLock(), -1001);
    QCOMPARE(channel.unlock(), -1001);
    QCOMPARE(channel.verify(), -1005);
    QCOMPARE(channel.data(), nullptr);
    host->remove();
}

void tst_SharedMemoryChannel::verifyLooksAtTheSixteenBytesBehindThePayload_data()
{
    QTest::addColumn<int>("damagedOffset");
    QTest::addColumn<int>("expected");
    QTest::newRow("intact") << -1 << 0;
    QTest::newRow("last payload byte changed") << 999 << 0;
    QTest::newRow("first guard byte") << 1000 << -1005;
    QTest::newRow("middle guard byte") << 1007 << -1005;
    QTest::newRow("last guard byte") << 1015 << -1005;
}

void tst_SharedMemoryChannel::verifyLooksAtTheSixteenBytesBehindThePayload()
{
    QFETCH(int, damagedOffset);
    QFETCH(int, expected);
    const std::string name = uniqueName("verify");
    const auto host = createHostChannel(name, 1000);
    QVERIFY(host);
    if (damagedOffset >= 0)
        host->data()[damagedOffset] ^= 0x01;
    SharedMemoryChannel<char> channel(name, 0);
    QCOMPARE(channel.open(), 0);
    QCOMPARE(channel.verify(), expected);
    host->remove();
}

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

void tst_SharedMemoryChannel::lockHeldByAnotherProcess()
{
    const std::string name = uniqueName("process");
    const auto host = createHostChannel(name, 8);
    QVERIFY(host);
    SharedMemoryChannel<char> channel(name, 0);
    QCOMPARE(channel.open(), 0);

    QProcess holder;
    holder.start(QDir(TestHelpers::binDir()).filePath("pslockholder"), {QString::fromStdString(name)});
    QVERIFY(holder.waitForStarted());
    QByteArray out;
    QTRY_VERIFY_WITH_TIMEOUT((out += holder.readAllStandardOutput()).contains("locked\n"), 20000);
    const uint32_t holderThread = host->info()->lockOwner;
    QCOMPARE(channel.tryLock(), 1);
    QCOMPARE(host->info()->lockOwner, holderThread);

    holder.write("\n");
    QTRY_VERIFY_WITH_TIMEOUT((out += holder.readAllStandardOutput()).contains("unlocked\n"), 20000);
    QCOMPARE(channel.tryLock(), 0);
    QCOMPARE(host->info()->lockOwner, currentThreadId());
    holder.write("\n");
    QVERIFY(holder.waitForFinished());
    QCOMPARE(holder.exitCode(), 0);
    QCOMPARE(channel.unlock(), 0);
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
