#include "HandOffReader.h"
#include "LocalPeer.h"
#include "OvIntercom.h"

#include <QLocalSocket>
#include <QTemporaryDir>
#include <QtConcurrent/QtConcurrentRun>
#include <QtTest>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

// The handoff between two instances over real local sockets. The running side answers from the
// test's event loop; a launching side blocks, so it runs on a pool thread.
class tst_OvIntercom : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    const QString m_key = QStringLiteral("Capture One");

    static QFuture<OvIntercom::Role> joinLater(const QString &key, const QString &data)
    {
        return QtConcurrent::run([key, data] { return OvIntercom().join(key, data); });
    }

private slots:
    void init()
    {
        QVERIFY(m_root.isValid());
        qputenv("TMPDIR", QFile::encodeName(m_root.path()));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_root.path()));
    }

    // Another user must not be able to put a socket where the next launch looks for ours.
    void namesLiveInAPrivateFolder_data()
    {
        QTest::addColumn<QString>("runtime"); // the runtime folder under the root; "-" when unset
        QTest::addColumn<int>("mode");        // of that folder, or of a planted lumivex-UID in temp
        QTest::addColumn<uint>("owner");
        QTest::addColumn<bool>("trusted");
        const uint me = ::geteuid();
        QTest::newRow("runtime folder") << "run" << 0700 << me << true;
        QTest::newRow("runtime folder open to others") << "run" << 0755 << me << false;
        QTest::newRow("no runtime folder") << "-" << -1 << me << true;
        QTest::newRow("planted open folder") << "-" << 0777 << me << false;
        if (me == 0)
            QTest::newRow("planted folder of another user") << "-" << 0700 << 65534u << false;
    }

    void namesLiveInAPrivateFolder()
    {
        QFETCH(QString, runtime);
        QFETCH(int, mode);
        QFETCH(uint, owner);
        QFETCH(bool, trusted);
        const QString folder = m_root.filePath(runtime == "-" ? QStringLiteral("lumivex-%1").arg(::geteuid()) : runtime);
        if (runtime == "-")
            qunsetenv("XDG_RUNTIME_DIR");
        else
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(folder));
        if (mode >= 0) {
            QVERIFY(QDir().mkpath(folder));
            QCOMPARE(::chmod(QFile::encodeName(folder).constData(), mode_t(mode)), 0);
            QCOMPARE(::chown(QFile::encodeName(folder).constData(), owner, uid_t(-1)), 0);
        }
        const QString name = OvIntercom::serverNameFor(m_key);
        if (!trusted) {
            QVERIFY2(name.isEmpty(), qPrintable(name));
            QCOMPARE(OvIntercom().join(m_key, QStringLiteral("/a.jpg")), OvIntercom::Role::Alone);
            return;
        }
        QCOMPARE(QFileInfo(name).absolutePath(), folder);
        QVERIFY(name != OvIntercom::serverNameFor(m_key.toLower()));
    }

    // A later launch hands its data over once; a stranger before it (which must neither hold the
    // window up nor merge anything) is dropped and the launch is still served.
    void handOff_data()
    {
        QTest::addColumn<QByteArray>("stranger");
        QTest::addColumn<QString>("data");
        QTest::newRow("non-ASCII") << QByteArray() << QString::fromUtf8("/fotos/Straße/ß.jpg");
        // Parsed from the start again on every piece, a message this size held the window for
        // tens of seconds.
        QTest::newRow("32 MB") << QByteArray() << QString(32 << 20, QLatin1Char('x'));
        QTest::newRow("not a handoff: wrong magic word") << QByteArray("GET ") + HandOffReader::message(QStringLiteral("/x.jpg")).mid(4) << "/d.jpg";
        QTest::newRow("over the cap") << HandOffReader::message(QString()).left(4) + QByteArray::fromHex("04000001") << "/d.jpg";
        QTest::newRow("stops mid-message") << HandOffReader::message(QString(100, QLatin1Char('x'))).left(18) << "/d.jpg";
    }

    void handOff()
    {
        QFETCH(QByteArray, stranger);
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

    // The kernel's record of who connected, for a forked child that gives up root first. The same
    // user is the case of every handoff above, which is refused when it is not recognised.
    void peerOfAnotherUser()
    {
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
    }
};

QTEST_GUILESS_MAIN(tst_OvIntercom)
#include "tst_ovintercom.moc"
