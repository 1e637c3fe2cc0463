// The filter-host back end's life across real processes: this test plays the filter module
// (channels created, filled and damaged here), psbackendrunner runs PSPluginData in a child.

#include "PSTestSupport.h"

#include "FilterHostSession.h"
#include "HostCorruption.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <memory>

using namespace PSTestSupport;

class tst_PSPluginLifecycle : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void runWithoutSave_data();
    void runWithoutSave();
    void waitsUntilTheModuleReleasesTheRecord();
    void malformedHandOver_data();
    void malformedHandOver();
    void shortRecordIsNeverWritten();

private:
    std::unique_ptr<FilterHostSession> m_session;
};

void tst_PSPluginLifecycle::init()
{
    m_session = std::make_unique<FilterHostSession>();
}

void tst_PSPluginLifecycle::cleanup()
{
    m_session.reset();
    FilterHostSession::removeStaleChannels(); // every channel a test made, by name
}

void tst_PSPluginLifecycle::runWithoutSave_data()
{
    QTest::addColumn<int>("runMode");
    QTest::addColumn<QString>("signature");
    QTest::addColumn<QString>("processName");
    QTest::addColumn<QList<int>>("version");
    QTest::addColumn<bool>("mask");
    QTest::addColumn<QString>("displayName");
    QTest::addColumn<QString>("versionText");
    QTest::addColumn<bool>("silent");
    QTest::addColumn<QString>("runnerOption");

    // The locks were taken on the runner's main thread; the release must work from any other.
    QTest::newRow("photoshop, cleanup on another thread") << 1 << "8BIM" << "Photoshop.exe" << QList<int>{24, 1, 0}
                                                          << true << "Adobe Photoshop" << "24.1.0" << false
                                                          << "--cleanup-on-thread";
    QTest::newRow("silent, no mask") << 0 << "8BIM" << "PhotoshopElementsEditor.exe" << QList<int>{2023, 0, 7}
                                     << false << "Adobe Photoshop Elements" << "2023.0.7" << true << "";
    QTest::newRow("run mode 2, negative version") << 2 << "AffP" << "Photo2.exe" << QList<int>{-1, 0, -25} << true
                                                  << "Affinity Photo 2" << "-1.0.-25" << false << "";
    // No NUL inside the 258-byte field: the reader must stop at its end.
    QTest::newRow("process name fills its field") << 1 << "GIMP" << QString(258, QLatin1Char('x')) << QList<int>{2, 10, 36}
                                                  << false << "GIMP" << "2.10.36" << false << "";
    QTest::newRow("no cleanup") << 1 << "8BIM" << "Photoshop.exe" << QList<int>{24, 1, 0} << true << "Adobe Photoshop"
                                << "24.1.0" << false << "--skip-cleanup";
}

void tst_PSPluginLifecycle::runWithoutSave()
{
    QFETCH(int, runMode);
    QFETCH(QString, signature);
    QFETCH(QString, processName);
    QFETCH(QList<int>, version);
    QFETCH(bool, mask);
    QFETCH(QString, displayName);
    QFETCH(QString, versionText);
    QFETCH(bool, silent);
    QFETCH(QString, runnerOption);

    HostSetup setup;
    setup.runMode = uint8_t(runMode);
    setup.signature = signature;
    setup.processName = processName.left(257);
    setup.versionMajor = version[0];
    setup.versionMinor = version[1];
    setup.versionPatch = version[2];
    setup.icc = QByteArray("icc-bytes");
    QVERIFY(createReleasedSession(*m_session, makeHostImage(37, 21, false, mask), setup));
    if (processName.size() == 258)
        m_session->record()->hostProcessName[257] = 'x';

    const ProcessResult result = run(binPath("psbackendrunner"), {runnerOption});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.values.value("hostDisplayName"), displayName);
    QCOMPARE(result.values.value("isSilent"), silent ? "true" : "false");
    QCOMPARE(result.values.value("mergableInstanceKey"), silent ? "PhotoShopFilterSilent" : "PhotoShopFilter");
    QCOMPARE(result.values.value("imageSize"), QStringLiteral("37x21"));
    QCOMPARE(result.values.value("imagesAdded"), displayName + QStringLiteral(" Image"));
    const QJsonObject event = QJsonDocument::fromJson(
        result.values.value("trackEvent").section(QLatin1Char(' '), 3).toUtf8()).object();
    QVERIFY(result.values.value("trackEvent").startsWith(QStringLiteral("Plugin Host Info {")));
    QCOMPARE(event, (QJsonObject{{"signature", signature}, {"version", versionText}, {"processName", processName}}));

    const bool released = runnerOption != QLatin1String("--skip-cleanup");
    QCOMPARE(int(m_session->record()->status), released ? int(StatusNoImageSaved) : int(FilterHostSession::UntouchedStatus));
    QCOMPARE(m_session->param().tryLock(), released);
    for (int k = 0; k < 3; ++k)
        QCOMPARE(m_session->plane(k).tryLock(), released);
    if (mask)
        QCOMPARE(m_session->mask()->tryLock(), released);
    if (released)
        QCOMPARE(m_session->param().info()->lockCount, 1u);
    // The ICC channel is let go at the end of start(); the others stay for the module.
    QStringList left{"__orvaneLumivex_param", "__orvaneLumivex_plane0", "__orvaneLumivex_plane1", "__orvaneLumivex_plane2"};
    if (mask)
        left << "__orvaneLumivex_mask";
    QCOMPARE(FilterHostSession::removeStaleChannels(), left);
}

void tst_PSPluginLifecycle::waitsUntilTheModuleReleasesTheRecord()
{
    FilterHostSession::removeStaleChannels();
    QString error;
    QVERIFY2(m_session->create(makeHostImage(8, 8, false, true), HostSetup(), &error), qPrintable(error));

    QProcess runner;
    runner.start(binPath("psbackendrunner"), {});
    QVERIFY(runner.waitForStarted());
    QByteArray err;
    QTRY_VERIFY_WITH_TIMEOUT((err += runner.readAllStandardError()).contains("Created IPCParams, waiting for lock."), 20000);
    QVERIFY(!runner.readAllStandardOutput().contains("hostDisplayName="));
    QCOMPARE(runner.state(), QProcess::Running);
    QCOMPARE(int(m_session->record()->status), int(FilterHostSession::UntouchedStatus));

    m_session->releaseLocks();
    const ProcessResult result = collect(runner);
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.values.value("hostDisplayName"), QStringLiteral("Adobe Photoshop"));
    QCOMPARE(int(m_session->record()->status), int(StatusNoImageSaved));
}

void tst_PSPluginLifecycle::malformedHandOver_data()
{
    QTest::addColumn<int>("kind");
    for (const HostCorruption::Expectation &expected : HostCorruption::catalogue())
        QTest::newRow(expected.name) << int(expected.kind);
}

// The record damaged in this process, the back end run in a child: the same catalogue that the
// stand-in applies across processes in tst_faultyfiltermodule.
void tst_PSPluginLifecycle::malformedHandOver()
{
    QFETCH(int, kind);
    const HostCorruption::Expectation &expected = HostCorruption::catalogue().at(size_t(kind));
    HostSetup setup;
    setup.icc = QByteArray(64, 'p');
    setup.rowPadding = 2;
    QVERIFY(createReleasedSession(*m_session, makeHostImage(16, 9, false, true), setup));
    QString error;
    QVERIFY2(HostCorruption::apply({HostCorruption::Kind(kind)}, *m_session, &error), qPrintable(error));

    const ProcessResult result = run(binPath("psbackendrunner"), {QStringLiteral("--load-and-save")});
    QCOMPARE(result.exitCode, expected.exitCode);
    QCOMPARE(int(m_session->record()->status), int(expected.status));
    QCOMPARE(m_session->hostErrorMessage(), expected.status == StatusFailed ? QString::fromLatin1(expected.log) : QString());
    QVERIFY2(result.standardError.contains(QLatin1String(expected.log)), qPrintable(result.standardError));
    // A fatal end releases nothing: once the back end holds the record, the module sees it
    // locked by the dead process. The record and the planes are opened before the lock is taken.
    QCOMPARE(m_session->param().isHeldByOther(), expected.status == StatusFailed && kind >= HostCorruption::MissingMask);
}

void tst_PSPluginLifecycle::shortRecordIsNeverWritten()
{
    FilterHostSession::removeStaleChannels();
    HostChannel shortRecord(FilterHostSession::ParamName);
    QString error;
    QVERIFY(shortRecord.create(1000, &error));
    const ProcessResult result = run(binPath("psbackendrunner"), {});
    const QByteArray written(reinterpret_cast<const char *>(shortRecord.data()), 1000);
    shortRecord.remove();
    QCOMPARE(written, QByteArray(1000, '\0'));
    QCOMPARE(result.exitCode, HostCorruption::FatalExitSeen);
    QVERIFY(result.standardError.contains(QStringLiteral("Failed to open shared memory for params")));
}

QTEST_GUILESS_MAIN(tst_PSPluginLifecycle)
#include "tst_pspluginlifecycle.moc"
