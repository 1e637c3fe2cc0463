#include "TestHelpers.h"

#include <QProcess>
#include <QTest>

// The destructor's way out when the worker thread does not stop within its deadline. Runs in a
// child process, since a terminated (or unterminable) thread leaves the process in no state to
// go on testing.
class tst_OvIntegrationsShutdown : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void stuckWorkerThread_data();
    void stuckWorkerThread();
};

void tst_OvIntegrationsShutdown::stuckWorkerThread_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QStringList>("lastLines");
    QTest::newRow("terminated") << QStringLiteral("cancellable")
                                << QStringList{QStringLiteral("info: OvIntegrations thread terminated"),
                                               QStringLiteral("destroyed")};
    // The destructor goes on to destroy the still running QThread, and Qt ends the process there.
    // The critical line is what a person finds in the log of a crashed session.
    QTest::newRow("not terminable")
        << QStringLiteral("uncancellable")
        << QStringList{QStringLiteral("critical: OvIntegrations thread could not terminate in time. Time to crash."),
                       QStringLiteral("fatal: QThread: Destroyed while thread is still running")};
}

void tst_OvIntegrationsShutdown::stuckWorkerThread()
{
    QFETCH(QString, mode);
    QFETCH(QStringList, lastLines);
    const bool crashes = mode == QLatin1String("uncancellable");

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_MESSAGE_PATTERN"), QStringLiteral("%{type}: %{message}"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(TestHelpers::binDir() + QStringLiteral("/ovfacadestuckworker"), {mode});
    // Two deadlines of 5000 ms at most, plus start-up.
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitStatus(), crashes ? QProcess::CrashExit : QProcess::NormalExit);
    const QStringList lines = TestHelpers::outputLines(QString::fromUtf8(child.readAllStandardOutput()), Qt::SkipEmptyParts);
    QCOMPARE(lines.mid(lines.size() - 2), lastLines);
}

QTEST_MAIN(tst_OvIntegrationsShutdown)
#include "tst_ovintegrationsshutdown.moc"
