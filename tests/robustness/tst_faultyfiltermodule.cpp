// The real application under a filter module that hands over damaged shared memory, and under a
// module that dies while the application waits for it. Every run crosses real processes:
// ovfilterhost creates and damages the channels, lumivex opens them.

#include "PSTestSupport.h"

#include "FilterHostSession.h"
#include "TestHelpers.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <opencv2/imgcodecs.hpp>

#include <csignal>
#include <sys/prctl.h>
#include <sys/wait.h>

using namespace PSTestSupport;

namespace {

const char *const Marker = "Orvane_Lumivex_PS_Plugin";

QString lumivexPath()
{
    return QDir(TestHelpers::binDir()).filePath(QStringLiteral("lumivex"));
}

QString readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
}

// What the sanitizers and the C++ runtime print when something goes wrong in a child.
bool hasCrashReport(const QString &errors)
{
    for (const char *text : {"Sanitizer", "runtime error:", "terminate called", "Segmentation fault"}) {
        if (errors.contains(QLatin1String(text)))
            return true;
    }
    return false;
}

// Our children whose first argument element is the filter marker.
QList<pid_t> markedChildren()
{
    QList<pid_t> pids;
    for (const qint64 pid : TestHelpers::childProcesses()) {
        if (TestHelpers::processArguments(pid).value(0) == Marker)
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
    QTemporaryDir dir;
    QString colourImage;
};

void tst_FaultyFilterModule::initTestCase()
{
    QVERIFY(dir.isValid());
    colourImage = dir.filePath(QStringLiteral("input.png"));
    QVERIFY(cv::imwrite(colourImage.toStdString(), TestHelpers::makePattern(40, 30, CV_16U, 4)));
    // An application left behind by a killed module becomes our child, so this test can find it
    // and collect it when it ends.
    QCOMPARE(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
}

void tst_FaultyFilterModule::cleanup()
{
    FilterHostSession::removeStaleChannels();
}

void tst_FaultyFilterModule::malformedHandOver_data()
{
    QTest::addColumn<QStringList>("hostOptions");
    QTest::addColumn<int>("hostExit");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QString>("critical");

    // Before the record is open the application can only log; the module sees an untouched record.
    QTest::newRow("param channel missing")
        << QStringList{"--corrupt", "missing-param"} << 3
        << R"(status=255 message="" host="" exit=255 output="")" << "Failed to open shared memory for params";
    for (int k = 0; k < 3; ++k) {
        const QString message = QStringLiteral("Failed to open shared memory for channel %1").arg(k);
        QTest::addRow("plane %d channel missing", k)
            << QStringList{"--corrupt", QStringLiteral("missing-plane%1").arg(k)} << 2
            << QStringLiteral(R"(status=2 message="%1" host="" exit=255 output="")").arg(message) << message;
    }
    const auto failedAtStart = [](const char *message) {
        return QStringLiteral(R"(status=2 message="%1" host="Adobe Photoshop" exit=255 output="")").arg(QLatin1String(message));
    };
    QTest::newRow("mask channel missing") << QStringList{"--corrupt", "missing-mask"} << 2
        << failedAtStart("Failed to open shared memory for mask channel") << "Failed to open shared memory for mask channel";
    QTest::newRow("ICC channel missing") << QStringList{"--corrupt", "missing-icc"} << 2
        << failedAtStart("Failed to open shared memory for ICC profile") << "Failed to open shared memory for ICC profile";

    const char *const verifyFail = "IPC memory verify fail";
    const QList<QStringList> refused = {
        {"--corrupt", "damaged-guard0"},
        {"--corrupt", "damaged-guard1"},
        {"--corrupt", "damaged-guard2"},
        {"--gray", "--corrupt", "damaged-guard2"},
        {"--corrupt", "short-rows"},
        {"--row-padding", "8", "--corrupt", "short-rows"},
        {"--corrupt", "short-planes"},
        {"--corrupt", "zero-width"},
        {"--corrupt", "zero-height"},
        {"--corrupt", "oversized-icc"},
        {"--icc", "@ICC@", "--corrupt", "oversized-icc"},
    };
    for (const QStringList &options : refused)
        QTest::addRow("%s", qPrintable(options.join(QLatin1Char(' ')).replace(QLatin1String("@ICC@"), QLatin1String("FILE")))) << options << 2 << failedAtStart(verifyFail) << verifyFail;

    // Unterminated text is read up to the end of its field: the run goes on as usual.
    const QString delivered = QStringLiteral(R"(status=0 message="" host="Adobe Photoshop" exit=0 output="@OUTPUT@")");
    QTest::newRow("process name without NUL") << QStringList{"--corrupt", "unterminated-process-name"} << 0 << delivered << "";
    QTest::newRow("settings fields without NUL") << QStringList{"--corrupt", "unterminated-settings"} << 0 << delivered << "";
    QTest::newRow("both texts without NUL, gray, no mask")
        << QStringList{"--gray", "--no-mask", "--corrupt", "unterminated-process-name", "--corrupt", "unterminated-settings"}
        << 0 << delivered << "";
}

void tst_FaultyFilterModule::malformedHandOver()
{
    QFETCH(QStringList, hostOptions);
    QFETCH(int, hostExit);
    QFETCH(QString, summary);
    QFETCH(QString, critical);
    const QString icc = dir.filePath(QStringLiteral("profile.icc"));
    QFile iccFile(icc);
    QVERIFY(iccFile.open(QIODevice::WriteOnly));
    iccFile.write(QByteArray(560, '\x2a'));
    iccFile.close();
    hostOptions.replaceInStrings(QStringLiteral("@ICC@"), icc);
    const QString output = dir.filePath(QStringLiteral("output.png"));
    QFile::remove(output);

    const ProcessResult result = run(filterHostPath(), hostOptions + QStringList{colourImage, output, "--", lumivexPath(),
                                                                                 "--auto=identity"});
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, hostExit);
    QCOMPARE(summaryLine(result.standardOutput), QStringLiteral("ovfilterhost: ") + QString(summary).replace(QLatin1String("@OUTPUT@"), output));
    QVERIFY2(!hasCrashReport(result.standardError), qPrintable(result.standardError));
    if (critical.isEmpty()) {
        QVERIFY(QFile::exists(output));
    } else {
        QVERIFY2(result.standardError.contains(critical), qPrintable(result.standardError));
        QVERIFY(!QFile::exists(output));
    }
    QVERIFY(FilterHostSession::removeStaleChannels().isEmpty());
}

// The application spins on the param lock without a time limit: when the module dies before it
// lets go, nothing ends the wait but the user. A quit signal must still be heard there, although
// no event loop runs yet, and a lock object cut short under the wait must end the run cleanly.
void tst_FaultyFilterModule::applicationOfADeadModuleKeepsWaiting_data()
{
    QTest::addColumn<int>("signalNumber"); // 0: the param lock's object is truncated instead
    QTest::newRow("SIGKILL") << int(SIGKILL);
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("lock object truncated") << 0;
}

void tst_FaultyFilterModule::applicationOfADeadModuleKeepsWaiting()
{
    QFETCH(int, signalNumber);
    const QString log = dir.filePath(QStringLiteral("dead-module.log"));
    QFile::remove(log);
    QProcess module;
    module.setStandardErrorFile(log); // the application writes its log here too
    module.start(filterHostPath(), {"--keep-locks", colourImage, dir.filePath("never.png"), "--", lumivexPath(), "--auto=identity"});
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
        QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 255, qPrintable(QString::number(status, 16)));
        QVERIFY2(readAll(log).contains(QLatin1String("Shared memory of the filter module was cut short")), qPrintable(readAll(log)));
    }
    QVERIFY2(!hasCrashReport(readAll(log)), qPrintable(readAll(log)));

    // The dead module's channels stay until the next run of a module removes them.
    QStringList left = FilterHostSession::removeStaleChannels();
    left.sort();
    QCOMPARE(left, QStringList({"__orvaneLumivex_mask", "__orvaneLumivex_param", "__orvaneLumivex_plane0",
                                "__orvaneLumivex_plane1", "__orvaneLumivex_plane2", "__orvaneLumivex_srcIcc"}));
}

QTEST_GUILESS_MAIN(tst_FaultyFilterModule)
#include "tst_faultyfiltermodule.moc"
