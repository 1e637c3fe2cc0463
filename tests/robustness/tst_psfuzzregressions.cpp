// Inputs found by the fuzz targets, replayed across real processes: the filter-host back end
// run by psbackendrunner over channels that the test creates the way a filter module does.

#include "PSTestSupport.h"

#include <QTest>

using namespace PSTestSupport;

class tst_PSFuzzRegressions : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void rowStride_data();
    void rowStride();

private:
    FilterHostSession *session = nullptr;
};

void tst_PSFuzzRegressions::init()
{
    session = new FilterHostSession;
}

void tst_PSFuzzRegressions::cleanup()
{
    session->removeAll();
    delete session;
    session = nullptr;
}

// An odd row stride once made the load read 16-bit samples at odd addresses (found by
// fuzz_psrecord under UBSan); such a plane is now refused before any sample is read.
void tst_PSFuzzRegressions::rowStride_data()
{
    QTest::addColumn<uint32_t>("padding");
    QTest::addColumn<bool>("gray");
    QTest::addColumn<bool>("refused");
    QTest::newRow("odd stride") << 1u << false << true;
    QTest::newRow("odd stride, gray") << 3u << true << true;
    QTest::newRow("odd stride, one sample short of even") << 63u << false << true;
    QTest::newRow("even stride with padding") << 2u << false << false;
    QTest::newRow("even stride, gray") << 30u << true << false;
}

void tst_PSFuzzRegressions::rowStride()
{
    QFETCH(uint32_t, padding);
    QFETCH(bool, gray);
    QFETCH(bool, refused);

    HostSetup setup;
    setup.rowPadding = padding;
    QVERIFY(createReleasedSession(*session, makeHostImage(17, 5, gray, false), setup));
    QCOMPARE(session->record()->rowBytes % 2, padding % 2);

    const ProcessResult result = run(runnerPath(), {QStringLiteral("--load")});
    QVERIFY(result.finished);
    QVERIFY2(result.exitStatus == QProcess::NormalExit, qPrintable(result.standardError.right(3000)));
    if (refused) {
        QCOMPARE(result.exitCode, 255);
        QCOMPARE(int(session->record()->status), 2);
        QCOMPARE(session->hostErrorMessage(), QStringLiteral("IPC memory verify fail"));
        QVERIFY(!result.standardError.contains(QStringLiteral("runtime error")));
    } else {
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(int(session->record()->status), 1);
        QVERIFY2(result.values.value(QStringLiteral("imageLoaded")).contains(QStringLiteral("17x5")),
                 qPrintable(result.standardOutput));
        QCOMPARE(result.values.value(QStringLiteral("cleanup")), QStringLiteral("done"));
    }
}

QTEST_GUILESS_MAIN(tst_PSFuzzRegressions)
#include "tst_psfuzzregressions.moc"
