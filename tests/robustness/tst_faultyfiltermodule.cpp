// The real application under a filter module that hands over damaged shared memory, and under a
// module that dies while the application waits for it. Every run crosses real processes:
// ovfilterhost creates and damages the channels, lumivex opens them.

#include "PSTestSupport.h"

#include "FilterHostSession.h"
#include "HostCorruption.h"
#include "TestHelpers.h"

#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <opencv2/imgcodecs.hpp>

#include <csignal>
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#include <sys/wait.h>
#endif

using namespace PSTestSupport;

namespace {

// What the sanitizers and the C++ runtime print when something goes wrong in a child.
const QRegularExpression CrashReport(QStringLiteral("Sanitizer|runtime error:|terminate called|Segmentation fault"));

#ifdef Q_OS_LINUX
QString readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
}

// Our children whose first argument element is the filter marker.
QList<pid_t> markedChildren()
{
    QList<pid_t> pids;
    for (const qint64 pid : TestHelpers::childProcesses()) {
        if (TestHelpers::processArguments(pid).value(0) == "Orvane_Lumivex_PS_Plugin")
            pids << pid_t(pid);
    }
    return pids;
}

// User plus system time of a process in clock ticks, -1 once it is gone.
long long cpuTicks(pid_t pid)
{
    const QList<QByteArray> fields = TestHelpers::processStatFields(pid);
    return fields.size() > 12 ? fields.at(11).toLongLong() + fields.at(12).toLongLong() : -1;
}
#endif

} // namespace

class tst_FaultyFilterModule : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void malformedHandOver_data();
    void malformedHandOver();
    void applicationOfADeadModuleKeepsWaiting_data();
    void applicationOfADeadModuleKeepsWaiting();
    void cleanup();

private:
    QTemporaryDir m_dir;
    QString m_colourImage;
};

void tst_FaultyFilterModule::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_colourImage = m_dir.filePath(QStringLiteral("input.png"));
    QVERIFY(cv::imwrite(m_colourImage.toStdString(), TestHelpers::makePattern(40, 30, CV_16U, 4)));
#ifdef Q_OS_LINUX
    // An application left behind by a killed module becomes our child, so this test can find it
    // and collect it when it ends.
    QCOMPARE(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
#endif
}

void tst_FaultyFilterModule::cleanup()
{
    FilterHostSession::removeStaleChannels();
}

void tst_FaultyFilterModule::malformedHandOver_data()
{
    QTest::addColumn<int>("kind");
    for (const HostCorruption::Expectation &expected : HostCorruption::catalogue())
        QTest::newRow(expected.name) << int(expected.kind);
}

// The stand-in damages the hand-over, the real application meets it: how it ends, what it leaves
// in the record and what it logs.
void tst_FaultyFilterModule::malformedHandOver()
{
    QFETCH(int, kind);
    const HostCorruption::Expectation &expected = HostCorruption::catalogue().at(size_t(kind));
    // Any bytes serve as the profile: the application hands them on unread.
    const ProcessResult result = run(binPath("ovfilterhost"), {"--row-padding", "2", "--icc", m_colourImage, "--corrupt",
                                                               expected.name, m_colourImage, m_dir.filePath("output.png"), "--",
                                                               binPath("lumivex"), "--auto=identity"});
    QVERIFY(result.finished);
    const QRegularExpression summaryLine(QStringLiteral("^ovfilterhost: status=.*$"), QRegularExpression::MultilineOption);
    const QString summary = summaryLine.match(result.standardOutput).captured();
    const QString message = expected.status == StatusFailed ? QString::fromLatin1(expected.log) : QString();
    QVERIFY2(summary.startsWith(QStringLiteral("ovfilterhost: status=%1 message=\"%2\"").arg(expected.status).arg(message)),
             qPrintable(summary));
    QVERIFY2(summary.contains(QStringLiteral(" exit=%1 ").arg(expected.exitCode)), qPrintable(summary));
    QVERIFY2(result.standardError.contains(QLatin1String(expected.log)), qPrintable(result.standardError));
    QVERIFY2(!result.standardError.contains(CrashReport), qPrintable(result.standardError));
}

// The application spins on the param lock without a time limit: when the module dies before it
// lets go, nothing ends the wait but the user. A quit signal must still be heard there, although
// no event loop runs yet, and a lock object cut short under the wait must end the run cleanly.
void tst_FaultyFilterModule::applicationOfADeadModuleKeepsWaiting_data()
{
    QTest::addColumn<int>("signalNumber"); // 0: the param lock's object is truncated instead
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("lock object truncated") << 0;
}

void tst_FaultyFilterModule::applicationOfADeadModuleKeepsWaiting()
{
#ifndef Q_OS_LINUX
    QSKIP("Finding and signalling the orphaned application needs Linux's child subreaper, /proc and /dev/shm");
#else
    QFETCH(int, signalNumber);
    const QString log = m_dir.filePath(QStringLiteral("dead-module.log"));
    QFile::remove(log);
    QProcess module;
    module.setStandardErrorFile(log); // the application writes its log here too
    module.start(binPath("ovfilterhost"), {"--keep-locks", m_colourImage, m_dir.filePath("never.png"), "--", binPath("lumivex"), "--auto=identity"});
    QVERIFY(module.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(readAll(log).contains(QLatin1String("Created IPCParams, waiting for lock.")), 30000);
    module.kill();
    QVERIFY(module.waitForFinished());
    QCOMPARE(module.exitStatus(), QProcess::CrashExit);

    QList<pid_t> orphans;
    QTRY_VERIFY((orphans = markedChildren()).size() == 1);
    const pid_t application = orphans.first();
    int status = 0;
    bool ended = false;
    const auto hasEnded = [&] { return ended = ended || ::waitpid(application, &status, WNOHANG) == application; };
    const auto reap = qScopeGuard([&] {
        if (!hasEnded()) {
            ::kill(application, SIGKILL);
            ::waitpid(application, &status, 0);
        }
    });
    // Still running, and busy: it burns processor time in its wait.
    const long long before = cpuTicks(application);
    QVERIFY(before >= 0);
    QTRY_VERIFY(cpuTicks(application) >= before + 20);
    QVERIFY2(!readAll(log).contains(QLatin1String("Got PS image planar data!")), qPrintable(readAll(log)));

    if (signalNumber != 0)
        QCOMPARE(::kill(application, signalNumber), 0);
    else
        QVERIFY(QFile::resize(QStringLiteral("/dev/shm/__orvaneLumivex_paramInfo"), 0));
    QTRY_VERIFY(hasEnded());
    if (signalNumber != 0) {
        QVERIFY(WIFSIGNALED(status));
        QCOMPARE(WTERMSIG(status), signalNumber);
    } else {
        QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == HostCorruption::FatalExitSeen, qPrintable(QString::number(status, 16)));
        QVERIFY2(readAll(log).contains(QLatin1String("Shared memory of the filter module was cut short")), qPrintable(readAll(log)));
    }
    QVERIFY2(!readAll(log).contains(CrashReport), qPrintable(readAll(log)));

    // The dead module's channels stay until the next run of a module removes them.
    QStringList left = FilterHostSession::removeStaleChannels();
    left.sort();
    QCOMPARE(left, QStringList({"__orvaneLumivex_mask", "__orvaneLumivex_param", "__orvaneLumivex_plane0",
                                "__orvaneLumivex_plane1", "__orvaneLumivex_plane2", "__orvaneLumivex_srcIcc"}));
#endif
}

QTEST_GUILESS_MAIN(tst_FaultyFilterModule)
#include "tst_faultyfiltermodule.moc"
