#include "OvIntercom.h"

#include <QLocalSocket>
#include <QTemporaryDir>
#include <QtConcurrent/QtConcurrentRun>
#include <QtTest>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// The handoff between two instances over real local sockets. The listening side runs on the
// test's thread (its event loop answers); the launching side blocks, so it runs on a pool thread.
class tst_OvIntercom : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_runtime;

    static QFuture<bool> handOffLater(const QString &key, const QString &data, int timeoutMs = 5000)
    {
        return QtConcurrent::run([key, data, timeoutMs] {
            OvIntercom launcher;
            return launcher.handOff(key, data, timeoutMs);
        });
    }

    // What a crashed instance leaves: a bound socket file that nobody accepts on.
    static bool makeStaleSocket(const QString &path)
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        const QByteArray bytes = QFile::encodeName(path);
        if (fd < 0 || size_t(bytes.size()) >= sizeof(address.sun_path))
            return false;
        std::memcpy(address.sun_path, bytes.constData(), size_t(bytes.size()));
        const bool bound = ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0;
        ::close(fd);
        return bound && QFileInfo::exists(path);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_runtime.isValid());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
    }

    void namesAreScopedToUserAndKey_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("otherKey");
        QTest::newRow("editors") << "Capture One" << "Adobe Lightroom Classic";
        QTest::newRow("case matters") << "Capture One" << "capture one";
        QTest::newRow("empty key") << "" << " ";
    }

    void namesAreScopedToUserAndKey()
    {
        QFETCH(QString, key);
        QFETCH(QString, otherKey);
        const QString name = OvIntercom::serverNameFor(key);
        QCOMPARE(OvIntercom::serverNameFor(key), name);
        QVERIFY(name != OvIntercom::serverNameFor(otherKey));
        QVERIFY(name.startsWith(m_runtime.path() + QLatin1Char('/')));
        QVERIFY(QFileInfo(name).fileName().contains(QString::number(::getuid())));
        QVERIFY(!QFileInfo(name).fileName().contains(QLatin1Char(' ')));
    }

    void handOffReachesTheListener_data()
    {
        QTest::addColumn<QString>("data");
        QTest::newRow("two paths") << "/photos/a.jpg::/photos/b b.tif";
        QTest::newRow("non-ASCII") << QString::fromUtf8("/fotos/Straße/ß.jpg");
        QTest::newRow("large") << QString(200000, QLatin1Char('x'));
    }

    void handOffReachesTheListener()
    {
        QFETCH(QString, data);
        OvIntercom running;
        QSignalSpy merged(&running, &OvIntercom::mergeInstance);
        QVERIFY(running.listen(QStringLiteral("Capture One")));
        QVERIFY(running.isListening());

        const QFuture<bool> result = handOffLater(QStringLiteral("Capture One"), data);
        QTRY_VERIFY(result.isFinished());
        QVERIFY(result.result());
        // The confirmation is sent after the emission, never before.
        QCOMPARE(merged.count(), 1);
        QCOMPARE(merged.first().first().toString(), data);
    }

    void handOffWithoutListenerFails()
    {
        OvIntercom launcher;
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!launcher.handOff(QStringLiteral("nobody listens"), QStringLiteral("/a.jpg")));
        QVERIFY(timer.elapsed() < 2000);
    }

    void handOffToAnotherKeyFails()
    {
        OvIntercom running;
        QSignalSpy merged(&running, &OvIntercom::mergeInstance);
        QVERIFY(running.listen(QStringLiteral("Capture One")));
        const QFuture<bool> result = handOffLater(QStringLiteral("Adobe Lightroom Classic"), QStringLiteral("/a.jpg"));
        QTRY_VERIFY(result.isFinished());
        QVERIFY(!result.result());
        QCOMPARE(merged.count(), 0);
    }

    void staleNameIsTakenOver()
    {
        const QString key = QStringLiteral("crashed editor");
        QVERIFY(makeStaleSocket(OvIntercom::serverNameFor(key)));
        OvIntercom launcher;
        QVERIFY(!launcher.handOff(key, QStringLiteral("/a.jpg"), 1000));

        OvIntercom running;
        QSignalSpy merged(&running, &OvIntercom::mergeInstance);
        QVERIFY(running.listen(key));
        const QFuture<bool> result = handOffLater(key, QStringLiteral("/b.jpg"));
        QTRY_VERIFY(result.isFinished());
        QVERIFY(result.result());
        QCOMPARE(merged.count(), 1);
    }

    void liveNameIsNotStolen()
    {
        const QString key = QStringLiteral("Capture One");
        OvIntercom first;
        QSignalSpy merged(&first, &OvIntercom::mergeInstance);
        QVERIFY(first.listen(key));

        // The probe of the second instance needs the first one's event loop to accept it.
        QFuture<bool> second = QtConcurrent::run([key] {
            OvIntercom other;
            return other.listen(key);
        });
        QTRY_VERIFY(second.isFinished());
        QVERIFY(!second.result());
        QVERIFY(first.isListening());

        const QFuture<bool> result = handOffLater(key, QStringLiteral("/c.jpg"));
        QTRY_VERIFY(result.isFinished());
        QVERIFY(result.result());
        QCOMPARE(merged.count(), 1);
    }

    void foreignClientIsDropped()
    {
        OvIntercom running;
        QSignalSpy merged(&running, &OvIntercom::mergeInstance);
        QVERIFY(running.listen(QStringLiteral("Capture One")));

        QLocalSocket stranger;
        stranger.connectToServer(running.serverName());
        QVERIFY(stranger.waitForConnected(2000));
        stranger.write("GET / HTTP/1.0\r\n\r\n");
        QTRY_COMPARE(stranger.state(), QLocalSocket::UnconnectedState);
        QCOMPARE(merged.count(), 0);

        const QFuture<bool> result = handOffLater(QStringLiteral("Capture One"), QStringLiteral("/d.jpg"));
        QTRY_VERIFY(result.isFinished());
        QVERIFY(result.result());
        QCOMPARE(merged.count(), 1);
    }

    void closingFreesTheName()
    {
        const QString key = QStringLiteral("short-lived");
        {
            OvIntercom running;
            QVERIFY(running.listen(key));
            QVERIFY(QFileInfo::exists(OvIntercom::serverNameFor(key)));
        }
        QVERIFY(!QFileInfo::exists(OvIntercom::serverNameFor(key)));
    }
};

QTEST_GUILESS_MAIN(tst_OvIntercom)
#include "tst_ovintercom.moc"
