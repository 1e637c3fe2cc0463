// SharedMemoryChannel against channels created here the way the filter module creates them,
// with the other side of the lock played by a second process (pslockholder) where it matters.

#include "PSTestSupport.h"

#include "ChannelLock.h"
#include "ChannelQtLog.h"
#include "HostChannel.h"
#include "SharedMemoryChannel.h"
#include "TestHelpers.h"
#include "ThreadId.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

#include <thread>

namespace {

std::string uniqueName(const char *what)
{
    return "__ovtest_" + std::to_string(QCoreApplication::applicationPid()) + "_" + what;
}

} // namespace

class tst_SharedMemoryChannel : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { ChannelQtLog::install(); }
    void openReadsTheInfoObject();
    void openTwiceIsRefused();
    void openFailures_data();
    void openFailures();
    void operationsOnAClosedChannel();
    void verifyLooksAtTheSixteenBytesBehindThePayload_data();
    void verifyLooksAtTheSixteenBytesBehindThePayload();
    void recursiveLocking();
    void unlockFromAnotherThread();
    void lockHeldByAnotherProcess();
    void closeRemovesBothObjects_data();
    void closeRemovesBothObjects();
    void hostObjectsAreOwnerOnly();
};

void tst_SharedMemoryChannel::openReadsTheInfoObject()
{
    const std::string name = uniqueName("open");
    HostChannel host(name);
    QString error;
    QVERIFY(host.create(1000, &error));
    host.data()[0] = 42;
    SharedMemoryChannel<unsigned char> channel(name, 0);
    QCOMPARE(channel.data(), nullptr);
    QCOMPARE(channel.size(), uint64_t(0));
    QCOMPARE(channel.open(), 0);
    QCOMPARE(channel.size(), uint64_t(1000));
    QVERIFY(channel.data() != nullptr);
    QCOMPARE(int(channel.data()[0]), 42);
    channel.data()[999] = 7; // the same memory as the host's
    QCOMPARE(int(host.data()[999]), 7);
    host.remove();
}

void tst_SharedMemoryChannel::openTwiceIsRefused()
{
    const std::string name = uniqueName("twice");
    HostChannel host(name);
    QString error;
    QVERIFY(host.create(64, &error));
    SharedMemoryChannel<char> channel(name, 0);
    QCOMPARE(channel.open(), 0);
    char *before = channel.data();
    QTest::ignoreMessage(QtInfoMsg, QRegularExpression("^Opening shmInfoName"));
    QTest::ignoreMessage(QtWarningMsg, "Already opened");
    QCOMPARE(channel.open(), -1003);
    QCOMPARE(channel.data(), before);
    QCOMPARE(channel.size(), uint64_t(64));
    host.remove();
}

void tst_SharedMemoryChannel::openFailures_data()
{
    QTest::addColumn<bool>("createInfo");
    QTest::addColumn<bool>("createData");
    QTest::newRow("neither object") << false << false;
    QTest::newRow("info without data") << true << false;
    QTest::newRow("data without info") << false << true;
}

void tst_SharedMemoryChannel::openFailures()
{
    QFETCH(bool, createInfo);
    QFETCH(bool, createData);
    const std::string name = uniqueName("fail");
    HostChannel host(name);
    QString error;
    QVERIFY(host.create(32, &error));
    if (!createInfo)
        boost::interprocess::shared_memory_object::remove((name + "Info").c_str());
    if (!createData)
        boost::interprocess::shared_memory_object::remove(name.c_str());

    SharedMemoryChannel<char> channel(name, 0);
    QTest::ignoreMessage(QtInfoMsg, QRegularExpression("^Opening shmInfoName"));
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("^Unable to allocate space for shared memory objects\\. "));
    QCOMPARE(channel.open(), -1006);
    QCOMPARE(channel.tryLock(), -1001);
    QCOMPARE(channel.data(), nullptr);
    host.remove();
}

void tst_SharedMemoryChannel::operationsOnAClosedChannel()
{
    SharedMemoryChannel<char> channel(uniqueName("closed"), 0);
    QCOMPARE(channel.tryLock(), -1001);
    QCOMPARE(channel.unlock(), -1001);
    QCOMPARE(channel.verify(), -1005);
    QCOMPARE(channel.close(), 0);
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
    HostChannel host(name);
    QString error;
    QVERIFY(host.create(1000, &error));
    if (damagedOffset >= 0)
        host.data()[damagedOffset] ^= 0x01;
    SharedMemoryChannel<char> channel(name, 0);
    QCOMPARE(channel.open(), 0);
    QCOMPARE(channel.verify(), expected);
    host.remove();
}

void tst_SharedMemoryChannel::recursiveLocking()
{
    const std::string name = uniqueName("recursive");
    HostChannel host(name);
    QString error;
    QVERIFY(host.create(8, &error));
    SharedMemoryChannel<char> channel(name, 0);
    QCOMPARE(channel.open(), 0);
    ChannelInfo *info = host.info();
    QCOMPARE(info->lockOwner, ChannelInfo::NoOwner);

    QCOMPARE(channel.tryLock(), 0);
    QCOMPARE(channel.tryLock(), 0);
    QCOMPARE(info->lockWord, 1u);
    QCOMPARE(info->lockCount, 2u);
    QCOMPARE(info->lockOwner, currentThreadId());
    QCOMPARE(channel.unlock(), 0);
    QCOMPARE(info->lockWord, 1u);
    QCOMPARE(info->lockCount, 1u);
    QCOMPARE(channel.unlock(), 0);
    QCOMPARE(info->lockWord, 0u);
    QCOMPARE(info->lockOwner, ChannelInfo::NoOwner);
    host.remove();
}

void tst_SharedMemoryChannel::unlockFromAnotherThread()
{
    const std::string name = uniqueName("thread");
    HostChannel host(name);
    QString error;
    QVERIFY(host.create(8, &error));
    SharedMemoryChannel<char> channel(name, 0);
    QCOMPARE(channel.open(), 0);
    QCOMPARE(channel.tryLock(), 0);

    int otherTryLock = -2;
    int otherUnlock = -2;
    std::thread other([&] {
        otherTryLock = channel.tryLock(); // a different owner: busy, not recursive
        otherUnlock = channel.unlock();
    });
    other.join();
    QCOMPARE(otherTryLock, 1);
    QCOMPARE(otherUnlock, 0);
    QCOMPARE(host.info()->lockWord, 0u);
    QCOMPARE(host.info()->lockOwner, ChannelInfo::NoOwner);
    host.remove();
}

void tst_SharedMemoryChannel::lockHeldByAnotherProcess()
{
    const std::string name = uniqueName("process");
    HostChannel host(name);
    QString error;
    QVERIFY(host.create(8, &error));
    SharedMemoryChannel<char> channel(name, 0);
    QCOMPARE(channel.open(), 0);

    QProcess holder;
    holder.start(QDir(TestHelpers::binDir()).filePath("pslockholder"), {QString::fromStdString(name)});
    QVERIFY(holder.waitForStarted());
    QByteArray out;
    QTRY_VERIFY_WITH_TIMEOUT((out += holder.readAllStandardOutput()).contains("locked\n"), 20000);
    const ChannelInfo before = *host.info();
    QCOMPARE(channel.tryLock(), 1);
    QCOMPARE(host.info()->lockOwner, before.lockOwner);
    QCOMPARE(host.info()->lockCount, 1u);
    QVERIFY(before.lockOwner != currentThreadId());

    holder.write("\n");
    QTRY_VERIFY_WITH_TIMEOUT((out += holder.readAllStandardOutput()).contains("unlocked\n"), 20000);
    QCOMPARE(channel.tryLock(), 0);
    QCOMPARE(host.info()->lockOwner, currentThreadId());
    QCOMPARE(host.info()->lockCount, 1u);
    holder.write("\n");
    QVERIFY(holder.waitForFinished());
    QCOMPARE(holder.exitCode(), 0);
    QCOMPARE(channel.unlock(), 0);
    host.remove();
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
    HostChannel host(name);
    QString error;
    QVERIFY(host.create(8, &error));
    {
        SharedMemoryChannel<char> channel(name, 0);
        if (openFirst)
            QCOMPARE(channel.open(), 0);
        QCOMPARE(channel.close(), 0);
        QCOMPARE(channel.data(), nullptr);
        QCOMPARE(channel.tryLock(), -1001);
    }
    SharedMemoryChannel<char> again(name, 0);
    QTest::ignoreMessage(QtInfoMsg, QRegularExpression("^Opening shmInfoName"));
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("^Unable to allocate space"));
    QCOMPARE(again.open(), -1006);
    QVERIFY(!HostChannel::removeNamed(name));
}

void tst_SharedMemoryChannel::hostObjectsAreOwnerOnly()
{
#ifdef Q_OS_LINUX
    const std::string name = uniqueName("mode");
    HostChannel host(name);
    QString error;
    QVERIFY(host.create(8, &error));
    for (const std::string &object : {name, name + "Info"}) {
        const QFileInfo file(QStringLiteral("/dev/shm/") + QString::fromStdString(object));
        QVERIFY(file.exists());
        QCOMPARE(file.permissions() & 0x7777, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    }
    host.remove();
#else
    QSKIP("POSIX shared memory objects live under /dev/shm on Linux only");
#endif
}

QTEST_GUILESS_MAIN(tst_SharedMemoryChannel)
#include "tst_sharedmemorychannel.moc"
