#include "HandOffReader.h"
#include "InstanceLock.h"
#include "InstanceName.h"
#include "LocalPeer.h"
#include "OvIntercom.h"
#include "TestHelpers.h"

#include <QLocalSocket>
#include <QTemporaryDir>
#include <QtConcurrent/QtConcurrentRun>
#include <QThreadPool>
#include <QtTest>
#include <memory>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

// The handoff between two instances over real local sockets. The running side answers from the
// test's event loop; a launching side blocks, so it runs on a pool thread.
class tst_OvIntercom : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    const QString m_key = QStringLiteral("Capture One");

    static QFuture<OvIntercom::Role> joinLater(const QString &key, const QString &data, int timeoutMs = 30000)
    {
        return QtConcurrent::run([key, data, timeoutMs] {
            OvIntercom launch;
            launch.setHandOffTimeout(timeoutMs);
            return launch.join(key, data);
        });
    }

private slots:
    void init()
    {
        QVERIFY(m_root.isValid());
        TestHelpers::setTemporaryFolder(m_root.path());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_root.path()));
    }

    // Another user must not be able to put a socket where the next launch looks for ours. A runtime
    // folder that fails the check is replaced by our own folder in the temporary folder.
#ifndef Q_OS_UNIX
    void namesLiveInAPrivateFolder() { QSKIP("Folder modes and owners are POSIX cases; Windows names are per session"); }
#else
    void namesLiveInAPrivateFolder_data()
    {
        QTest::addColumn<QString>("runtime"); // the runtime folder under the root; "-" when unset
        QTest::addColumn<int>("mode");        // of that folder, or of a planted lumivex-UID in temp
        QTest::addColumn<uint>("owner");
        QTest::addColumn<QString>("used");    // "runtime", "temp", or "" when there is no name
        const uint me = ::geteuid();
        QTest::newRow("runtime folder") << "run" << 0700 << me << "runtime";
        QTest::newRow("runtime folder open to others") << "run" << 0755 << me << "temp";
        QTest::newRow("no runtime folder") << "-" << -1 << me << "temp";
        QTest::newRow("planted open folder") << "-" << 0777 << me << "";
        if (me == 0) {
            QTest::newRow("runtime folder of another user") << "run" << 0700 << 65534u << "temp";
            QTest::newRow("planted folder of another user") << "-" << 0700 << 65534u << "";
        }
    }

    void namesLiveInAPrivateFolder()
    {
        QFETCH(QString, runtime);
        QFETCH(int, mode);
        QFETCH(uint, owner);
        QFETCH(QString, used);
        const QString temp = m_root.filePath(QStringLiteral("lumivex-%1").arg(::geteuid()));
        const QString folder = runtime == "-" ? temp : m_root.filePath(runtime);
        QVERIFY(QDir(temp).removeRecursively()); // what an earlier row left there
        if (runtime == "-")
            qunsetenv("XDG_RUNTIME_DIR");
        else
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(folder));
        if (mode >= 0) {
            QVERIFY(QDir().mkpath(folder));
            QCOMPARE(::chmod(QFile::encodeName(folder).constData(), mode_t(mode)), 0);
            QCOMPARE(::chown(QFile::encodeName(folder).constData(), owner, uid_t(-1)), 0);
        }
        const QString name = InstanceName::serverName(m_key);
        if (used.isEmpty()) {
            QVERIFY2(name.isEmpty(), qPrintable(name));
            QCOMPARE(OvIntercom().join(m_key, QStringLiteral("/a.jpg")), OvIntercom::Role::Alone);
            return;
        }
        QCOMPARE(QFileInfo(name).absolutePath(), used == "temp" ? temp : folder);
        QVERIFY(name != InstanceName::serverName(m_key.toLower()));
    }
#endif

    // A later launch hands its data over once; a stranger before it (which must neither hold the
    // window up nor merge anything) is refused or dropped and the launch is still served. The
    // stranger's answer tells a refusal ("NAK") from an offer taken for a handoff ("RDY").
    void handOff_data()
    {
        QTest::addColumn<QByteArray>("stranger");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("data");
        QTest::newRow("non-ASCII") << QByteArray() << QByteArray() << QString::fromUtf8("/fotos/Straße/ß.jpg");
        // Parsed from the start again on every piece, a message this size held the window for
        // tens of seconds.
        QTest::newRow("32 MB") << QByteArray() << QByteArray() << QString(32 << 20, QLatin1Char('x'));
        QTest::newRow("not a handoff: wrong magic word") << QByteArray("GET ") + HandOffReader::message(QStringLiteral("/x.jpg")).mid(4) << QByteArray("NAK") << "/d.jpg";
        QTest::newRow("over the cap") << HandOffReader::message(QString()).left(4) + QByteArray::fromHex("04000001") << QByteArray("NAK") << "/d.jpg";
        QTest::newRow("stops mid-message") << HandOffReader::message(QString(100, QLatin1Char('x'))).left(18) << QByteArray() << "/d.jpg";
    }

    void handOff()
    {
        QFETCH(QByteArray, stranger);
        QFETCH(QByteArray, answer);
        QFETCH(QString, data);
        OvIntercom running;
        QSignalSpy merged(&running, &OvIntercom::mergeInstance);
        QCOMPARE(running.join(m_key, QString()), OvIntercom::Role::Running);
        QLocalSocket socket;
        if (!stranger.isEmpty()) {
            running.setMessageTimeout(500);
            socket.connectToServer(running.serverName());
            QVERIFY(socket.waitForConnected(2000));
            socket.write(stranger);
            QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QLocalSocket::UnconnectedState, 3000);
            QCOMPARE(socket.readAll(), answer);
        }
        QElapsedTimer timer;
        timer.start();
        const QFuture<OvIntercom::Role> result = joinLater(m_key, data);
        QTRY_VERIFY_WITH_TIMEOUT(result.isFinished(), 30000);
        QCOMPARE(result.result(), OvIntercom::Role::HandedOver);
        QVERIFY2(timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
        // The confirmation is sent after the emission, never before.
        QCOMPARE(merged.count(), 1);
        QVERIFY(merged.first().first().toString() == data);
    }

    // A running instance that will not take the data says so, and the launch ends at once instead
    // of taking the refusal for a lost connection and trying again while the instance lives.
    void refusalEndsTheLaunch()
    {
        OvIntercom running;
        QSignalSpy merged(&running, &OvIntercom::mergeInstance);
        QCOMPARE(running.join(m_key, QString()), OvIntercom::Role::Running);
        const QFuture<OvIntercom::Role> result = joinLater(m_key, QString(HandOffReader::MaxDataBytes + 1, QLatin1Char('x')));
        QTRY_VERIFY_WITH_TIMEOUT(result.isFinished(), 20000);
        QCOMPARE(result.result(), OvIntercom::Role::Refused);
        QCOMPARE(merged.count(), 0);
    }

    // An instance whose connection the kernel accepts but which does not answer (nobody accepts,
    // or its thread is busy) holds the launch for the handoff timeout only. When it answers after
    // the launch has gone on with its files, it must not open them too.
    void silentInstance_data()
    {
        QTest::addColumn<bool>("answersLate");
        QTest::newRow("never accepts") << false;
        QTest::newRow("answers after the launch gave up") << true;
    }

    void silentInstance()
    {
        QFETCH(bool, answersLate);
        std::unique_ptr<OvIntercom> running;
        InstanceLock lock;
        [[maybe_unused]] int listener = -1;
        if (answersLate) {
            running = std::make_unique<OvIntercom>();
            QCOMPARE(running->join(m_key, QString()), OvIntercom::Role::Running);
        } else {
#ifndef Q_OS_UNIX
            QSKIP("A listener that never accepts is made here with a raw Unix socket");
#else
            QVERIFY(lock.tryLock(InstanceName::lockName(m_key)));
            sockaddr_un address = {};
            address.sun_family = AF_UNIX;
            const QByteArray path = QFile::encodeName(InstanceName::serverName(m_key));
            std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
            listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            QVERIFY(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0);
            QCOMPARE(::listen(listener, 8), 0);
#endif
        }
        QSignalSpy merged(running.get(), &OvIntercom::mergeInstance);
        QElapsedTimer timer;
        timer.start();
        const QFuture<OvIntercom::Role> result = joinLater(m_key, QStringLiteral("/late.jpg"), 1000);
        // No events on this thread meanwhile: the running instance is as busy as a hung one.
        QVERIFY(QThreadPool::globalInstance()->waitForDone(15000));
        QCOMPARE(result.result(), OvIntercom::Role::Alone);
        QVERIFY2(timer.elapsed() >= 1000, qPrintable(QString::number(timer.elapsed())));
        if (!answersLate) {
#ifdef Q_OS_UNIX
            ::close(listener);
#endif
            return;
        }
        // The next launch is served, and only its data merged. On a Unix socket the abandoned offer
        // still comes first and is dropped; a Windows pipe whose client closed before the server
        // took it is never handed out as a connection (Qt discards it on ERROR_NO_DATA).
#ifdef Q_OS_UNIX
        QTest::ignoreMessage(QtWarningMsg, "Dropping a handoff whose launch went on without it");
#endif
        const QFuture<OvIntercom::Role> next = joinLater(m_key, QStringLiteral("/next.jpg"));
        QTRY_VERIFY_WITH_TIMEOUT(next.isFinished(), 30000);
        QCOMPARE(next.result(), OvIntercom::Role::HandedOver);
        QCOMPARE(merged.count(), 1);
        QCOMPARE(merged.first().first().toString(), QStringLiteral("/next.jpg"));
    }

    // The kernel's record of who connected, for a forked child that gives up root first. The same
    // user is the case of every handoff above, which is refused when it is not recognised.
    void peerOfAnotherUser()
    {
#ifndef Q_OS_UNIX
        QSKIP("A peer of another user is made here with fork and setuid");
#else
        if (::geteuid() != 0)
            QSKIP("only root can connect as another user");
        const uid_t user = 65534;
        sockaddr_un address = {};
        address.sun_family = AF_UNIX; // an abstract name: no folder for the other user to enter
        const QByteArray name = "lumivex-peer-" + QByteArray::number(::getpid());
        std::memcpy(address.sun_path + 1, name.constData(), size_t(name.size()));
        const socklen_t length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size_t(name.size()));
        const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
        QVERIFY(::bind(listener, reinterpret_cast<sockaddr *>(&address), length) == 0 && ::listen(listener, 1) == 0);
        const pid_t child = ::fork();
        if (child == 0) {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            ::_exit(::setuid(user) == 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&address), length) == 0 ? 0 : 1);
        }
        int status = -1;
        ::waitpid(child, &status, 0);
        QCOMPARE(status, 0);
        const int peer = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK); // the child waits in the backlog
        QVERIFY(!LocalPeer::isSameUser(peer, LocalPeer::Client));
        ::close(peer);
        ::close(listener);
#endif
    }
};

QTEST_GUILESS_MAIN(tst_OvIntercom)
#include "tst_ovintercom.moc"
