// The filter-host back end's life across real processes: this test plays the filter module
// (channels created and filled here), psbackendrunner runs PSPluginData in a child process.

#include "PSTestSupport.h"

#include "ChannelLock.h"
#include "FilterHostSession.h"

#include <boost/interprocess/shared_memory_object.hpp>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

using namespace PSTestSupport;

namespace {

enum class Fault {
    Plane0Missing, Plane1Missing, Plane2Missing, MaskMissing, IccMissing,
    Guard0Damaged, Guard1Damaged, Guard2DamagedGray, GuardPastMapping,
    WidthZero, HeightZero, RowBytesShort, PlanesTooSmall, MaskTooSmall,
    IccSizeNegative, IccSizePastMapping,
};

bool objectExists(const std::string &name)
{
    try {
        boost::interprocess::shared_memory_object object(boost::interprocess::open_only, name.c_str(),
                                                         boost::interprocess::read_only);
        return true;
    } catch (...) {
        return false;
    }
}

void applyFault(FilterHostSession &session, Fault fault)
{
    IPCParams *r = session.record();
    switch (fault) {
    case Fault::Plane0Missing: HostChannel::removeNamed(FilterHostSession::PlaneNames[0]); break;
    case Fault::Plane1Missing: HostChannel::removeNamed(FilterHostSession::PlaneNames[1]); break;
    case Fault::Plane2Missing: HostChannel::removeNamed(FilterHostSession::PlaneNames[2]); break;
    case Fault::MaskMissing: HostChannel::removeNamed(FilterHostSession::MaskName); break;
    case Fault::IccMissing: HostChannel::removeNamed(FilterHostSession::IccName); break;
    case Fault::Guard0Damaged: session.plane(0).guard()[0] = 0x09; break;
    case Fault::Guard1Damaged: session.plane(1).guard()[15] = 0x00; break;
    case Fault::Guard2DamagedGray: session.plane(2).guard()[7] = 0x80; break;
    case Fault::GuardPastMapping: session.plane(1).info()->dataSize = uint64_t(1) << 40; break;
    case Fault::WidthZero: r->width = 0; break;
    case Fault::HeightZero: r->height = 0; break;
    case Fault::RowBytesShort: r->rowBytes = r->width * 2 - 1; break;
    case Fault::PlanesTooSmall: r->height += 1; break;
    case Fault::MaskTooSmall: session.mask()->info()->dataSize -= 2; break;
    case Fault::IccSizeNegative: r->iccProfileSize = -1; break;
    case Fault::IccSizePastMapping: r->iccProfileSize = int32_t(session.icc().dataSize() + HostChannel::GuardSize) + 1; break;
    }
}

} // namespace

Q_DECLARE_METATYPE(Fault)

class tst_PSPluginLifecycle : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void runWithoutSaveLeavesStatusOne_data();
    void runWithoutSaveLeavesStatusOne();
    void waitsUntilTheModuleReleasesTheRecord();
    void fatalPaths_data();
    void fatalPaths();
    void missingOrShortRecord_data();
    void missingOrShortRecord();
    void cleanupFromAnotherThreadReleasesEverything();
    void withoutCleanupTheRecordStaysLocked();

private:
    FilterHostSession *session = nullptr;
};

void tst_PSPluginLifecycle::init()
{
    session = new FilterHostSession;
}

void tst_PSPluginLifecycle::cleanup()
{
    session->removeAll();
    delete session;
    session = nullptr;
    FilterHostSession::removeStaleChannels();
}

void tst_PSPluginLifecycle::runWithoutSaveLeavesStatusOne_data()
{
    QTest::addColumn<int>("runMode");
    QTest::addColumn<QString>("signature");
    QTest::addColumn<QString>("processName");
    QTest::addColumn<QList<int>>("version");
    QTest::addColumn<bool>("mask");
    QTest::addColumn<QString>("displayName");
    QTest::addColumn<QString>("versionText");
    QTest::addColumn<QString>("isSilent");
    QTest::addColumn<QString>("key");

    QTest::newRow("photoshop interactive") << 1 << "8BIM" << "Photoshop.exe" << QList<int>{24, 1, 0} << true
                                           << "Adobe Photoshop" << "24.1.0" << "false" << "PhotoShopFilter";
    QTest::newRow("silent, no mask") << 0 << "8BIM" << "PhotoshopElementsEditor.exe" << QList<int>{2023, 0, 7}
                                     << false << "Adobe Photoshop Elements" << "2023.0.7" << "true"
                                     << "PhotoShopFilterSilent";
    QTest::newRow("run mode 2, negative version") << 2 << "AffP" << "Photo2.exe" << QList<int>{-1, 0, -25} << true
                                                  << "Affinity Photo 2" << "-1.0.-25" << "false" << "PhotoShopFilter";
    const QString longName = QString(257, QLatin1Char('x'));
    QTest::newRow("process name fills its field") << 1 << "GIMP" << longName << QList<int>{2, 10, 36} << false
                                                  << "GIMP" << "2.10.36" << "false" << "PhotoShopFilter";
}

void tst_PSPluginLifecycle::runWithoutSaveLeavesStatusOne()
{
    QFETCH(int, runMode);
    QFETCH(QString, signature);
    QFETCH(QString, processName);
    QFETCH(QList<int>, version);
    QFETCH(bool, mask);
    QFETCH(QString, displayName);
    QFETCH(QString, versionText);
    QFETCH(QString, isSilent);
    QFETCH(QString, key);

    HostSetup setup;
    setup.runMode = uint8_t(runMode);
    setup.signature = signature;
    setup.processName = processName;
    setup.versionMajor = version[0];
    setup.versionMinor = version[1];
    setup.versionPatch = version[2];
    setup.icc = QByteArray("icc-bytes");
    QVERIFY(createReleasedSession(*session, makeHostImage(37, 21, false, mask), setup));
    if (processName.size() == 257) // no NUL inside the 258-byte field: the reader must stop at its end
        session->record()->hostProcessName[257] = 'y';

    const ProcessResult result = run(runnerPath(), {});
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.values.value("hostDisplayName"), displayName);
    QCOMPARE(result.values.value("isSilent"), isSilent);
    QCOMPARE(result.values.value("mergableInstanceKey"), key);
    QCOMPARE(result.values.value("imageSize"), QStringLiteral("37x21"));
    QCOMPARE(result.values.value("imagesAdded"), displayName + QStringLiteral(" Image"));
    const QString expectedProcess = processName.size() == 257 ? processName + QLatin1Char('y') : processName;
    const QJsonObject event = QJsonDocument::fromJson(
        result.values.value("trackEvent").section(QLatin1Char(' '), 3).toUtf8()).object();
    QVERIFY(result.values.value("trackEvent").startsWith(QStringLiteral("Plugin Host Info {")));
    QCOMPARE(event.value("signature").toString(), signature);
    QCOMPARE(event.value("version").toString(), versionText);
    QCOMPARE(event.value("processName").toString(), expectedProcess);
    QCOMPARE(result.values.value("cleanup"), QStringLiteral("done"));

    QCOMPARE(int(session->record()->status), 1);
    QVERIFY(!ChannelLock::isHeld(session->param().info()));
    for (int k = 0; k < 3; ++k)
        QVERIFY(!ChannelLock::isHeld(session->plane(k).info()));
    if (mask)
        QVERIFY(!ChannelLock::isHeld(session->mask()->info()));
    // The ICC channel is let go at the end of start(); the others stay for the module.
    QVERIFY(!objectExists(FilterHostSession::IccName));
    QVERIFY(!objectExists(std::string(FilterHostSession::IccName) + "Info"));
    QVERIFY(objectExists(FilterHostSession::ParamName));
    QVERIFY(objectExists(FilterHostSession::PlaneNames[2]));

    const QString log = result.standardError;
    QVERIFY(log.contains(QStringLiteral("Opening shmInfoName __orvaneLumivex_paramInfo shmDataName __orvaneLumivex_param")));
    QVERIFY(log.indexOf(QStringLiteral("Created IPCParams, waiting for lock.")) < log.indexOf(QStringLiteral("Got PS image planar data!")));
    QVERIFY(log.indexOf(QStringLiteral("Got PS image planar data!")) < log.indexOf(QStringLiteral("Finished loading data from PS")));
    QCOMPARE(log.contains(QStringLiteral("shmDataName __orvaneLumivex_mask")), mask);
}

void tst_PSPluginLifecycle::waitsUntilTheModuleReleasesTheRecord()
{
    FilterHostSession::removeStaleChannels();
    QString error;
    QVERIFY2(session->create(makeHostImage(8, 8, false, true), HostSetup(), &error), qPrintable(error));

    QProcess runner;
    runner.start(runnerPath(), {});
    QVERIFY(runner.waitForStarted());
    QByteArray err;
    QByteArray out;
    QTRY_VERIFY_WITH_TIMEOUT((err += runner.readAllStandardError()).contains("Created IPCParams, waiting for lock."), 20000);
    out += runner.readAllStandardOutput();
    QVERIFY(!out.contains("hostDisplayName="));
    QCOMPARE(runner.state(), QProcess::Running);
    QCOMPARE(int(session->record()->status), int(FilterHostSession::UntouchedStatus));

    session->releaseLocks();
    const ProcessResult result = collect(runner);
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.values.value("hostDisplayName"), QStringLiteral("Adobe Photoshop"));
    QCOMPARE(int(session->record()->status), 1);
}

void tst_PSPluginLifecycle::fatalPaths_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<bool>("gray");
    QTest::addColumn<bool>("mask");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("recordHeld");

    const QString verify = QStringLiteral("IPC memory verify fail");
    QTest::newRow("plane 0 missing") << Fault::Plane0Missing << false << true << "Failed to open shared memory for channel 0" << false;
    QTest::newRow("plane 1 missing") << Fault::Plane1Missing << false << true << "Failed to open shared memory for channel 1" << false;
    QTest::newRow("plane 2 missing") << Fault::Plane2Missing << false << false << "Failed to open shared memory for channel 2" << false;
    QTest::newRow("mask missing") << Fault::MaskMissing << false << true << "Failed to open shared memory for mask channel" << true;
    QTest::newRow("icc missing") << Fault::IccMissing << false << false << "Failed to open shared memory for ICC profile" << true;
    QTest::newRow("guard 0 damaged") << Fault::Guard0Damaged << false << true << verify << true;
    QTest::newRow("guard 1 damaged") << Fault::Guard1Damaged << false << false << verify << true;
    QTest::newRow("guard 2 damaged, gray") << Fault::Guard2DamagedGray << true << false << verify << true;
    QTest::newRow("data size past the mapping") << Fault::GuardPastMapping << false << false << verify << true;
    QTest::newRow("width 0") << Fault::WidthZero << false << true << verify << true;
    QTest::newRow("height 0") << Fault::HeightZero << false << false << verify << true;
    QTest::newRow("row bytes short") << Fault::RowBytesShort << false << false << verify << true;
    QTest::newRow("planes too small") << Fault::PlanesTooSmall << false << false << verify << true;
    QTest::newRow("mask too small") << Fault::MaskTooSmall << false << true << verify << true;
    QTest::newRow("icc size negative") << Fault::IccSizeNegative << false << false << verify << true;
    QTest::newRow("icc size past the mapping") << Fault::IccSizePastMapping << false << false << verify << true;
}

void tst_PSPluginLifecycle::fatalPaths()
{
    QFETCH(Fault, fault);
    QFETCH(bool, gray);
    QFETCH(bool, mask);
    QFETCH(QString, message);
    QFETCH(bool, recordHeld);

    HostSetup setup;
    setup.icc = QByteArray(64, 'p');
    QVERIFY(createReleasedSession(*session, makeHostImage(16, 9, gray, mask), setup));
    applyFault(*session, fault);

    const ProcessResult result = run(runnerPath(), {});
    QVERIFY(result.finished);
    QCOMPARE(result.exitStatus, QProcess::NormalExit);
    QCOMPARE(result.exitCode, 255);
    QCOMPARE(int(session->record()->status), 2);
    QCOMPARE(session->hostErrorMessage(), message);
    QVERIFY2(result.standardError.contains(message), qPrintable(result.standardError));
    QVERIFY(!result.values.contains("cleanup"));
    QVERIFY(!result.standardError.contains(QStringLiteral("Finished loading data from PS")));
    // A fatal end releases nothing: the module sees the record still locked by the dead process.
    QCOMPARE(session->param().isHeldByOther(), recordHeld);
}

void tst_PSPluginLifecycle::missingOrShortRecord_data()
{
    QTest::addColumn<bool>("createShortRecord");
    QTest::newRow("no param channel") << false;
    QTest::newRow("param channel smaller than the record") << true;
}

void tst_PSPluginLifecycle::missingOrShortRecord()
{
    QFETCH(bool, createShortRecord);
    FilterHostSession::removeStaleChannels();
    HostChannel shortRecord(FilterHostSession::ParamName);
    QString error;
    if (createShortRecord)
        QVERIFY(shortRecord.create(1000, &error));

    const ProcessResult result = run(runnerPath(), {});
    if (createShortRecord) { // nothing may be written into a record that is not all there
        const QByteArray written(reinterpret_cast<const char *>(shortRecord.data()), 1000);
        QCOMPARE(written, QByteArray(1000, '\0'));
    }
    shortRecord.remove();
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 255);
    QVERIFY(result.standardError.contains(QStringLiteral("Failed to open shared memory for params")));
    QCOMPARE(result.standardError.contains(QStringLiteral("Unable to allocate space for shared memory objects.")),
             !createShortRecord);
    QVERIFY(!result.values.contains("hostDisplayName"));
}

void tst_PSPluginLifecycle::cleanupFromAnotherThreadReleasesEverything()
{
    QVERIFY(createReleasedSession(*session, makeHostImage(12, 12, false, true)));
    const ProcessResult result = run(runnerPath(), {QStringLiteral("--cleanup-on-thread")});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(int(session->record()->status), 1);
    QVERIFY(session->param().tryLock());
    for (int k = 0; k < 3; ++k)
        QVERIFY(session->plane(k).tryLock());
    QVERIFY(session->mask()->tryLock());
    QCOMPARE(session->param().info()->lockCount, 1u);
}

void tst_PSPluginLifecycle::withoutCleanupTheRecordStaysLocked()
{
    QVERIFY(createReleasedSession(*session, makeHostImage(12, 12, false, false)));
    const ProcessResult result = run(runnerPath(), {QStringLiteral("--skip-cleanup")});
    QCOMPARE(result.exitCode, 0);
    QVERIFY(session->param().isHeldByOther());
    QVERIFY(!session->param().tryLock());
    QVERIFY(!session->plane(0).tryLock());
    QCOMPARE(int(session->record()->status), int(FilterHostSession::UntouchedStatus));
}

QTEST_GUILESS_MAIN(tst_PSPluginLifecycle)
#include "tst_pspluginlifecycle.moc"
