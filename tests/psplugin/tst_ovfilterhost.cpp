// The filter-module stand-in as a program: how it reports an application that never hands back,
// and the clean-up of its channels. Its ordinary runs are those of tst_lumivexheadless.

#include "PSTestSupport.h"

#include "FilterHostSession.h"
#include "HostChannel.h"
#include "TestHelpers.h"

#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <opencv2/imgcodecs.hpp>

using namespace PSTestSupport;

namespace {

bool anyChannelLeft()
{
    return !FilterHostSession::removeStaleChannels().isEmpty();
}

} // namespace

class tst_OvFilterHost : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void programEndingWithoutHandingBack_data();
    void programEndingWithoutHandingBack();
    void staleChannelsAreRemovedFirst();

private:
    QTemporaryDir dir;
    QString colourImage;
};

void tst_OvFilterHost::initTestCase()
{
    QVERIFY(dir.isValid());
    colourImage = dir.filePath(QStringLiteral("input.png"));
    QVERIFY(cv::imwrite(colourImage.toStdString(), TestHelpers::makePattern(40, 30, CV_16U, 4)));
}

// Whatever way the application goes, the stand-in reports it with exit code 3 and removes every
// channel it made, so a crashed run never leaves shared memory behind.
void tst_OvFilterHost::programEndingWithoutHandingBack_data()
{
    QTest::addColumn<QStringList>("hostOptions");
    QTest::addColumn<QStringList>("runnerOptions");
    QTest::addColumn<int>("programExit");
    QTest::newRow("ends without cleanup") << QStringList() << QStringList{"--skip-cleanup"} << 0;
    QTest::newRow("crashes holding every lock") << QStringList() << QStringList{"--abort-after-start"} << 128 + SIGABRT;
    QTest::newRow("module keeps its locks") << QStringList{"--keep-locks", "--timeout", "1"} << QStringList() << 128 + SIGKILL;
}

void tst_OvFilterHost::programEndingWithoutHandingBack()
{
    QFETCH(QStringList, hostOptions);
    QFETCH(QStringList, runnerOptions);
    QFETCH(int, programExit);
    const ProcessResult result = run(filterHostPath(), hostOptions + QStringList{colourImage, dir.filePath("x.png"), "--",
                                                                                 runnerPath()} + runnerOptions);
    QCOMPARE(result.exitCode, 3);
    QVERIFY2(result.standardError.contains(QStringLiteral("(exit code %1) without handing back the param lock").arg(programExit)),
             qPrintable(result.standardError));
    QCOMPARE(summaryLine(result.standardOutput),
             QStringLiteral("ovfilterhost: status=255 message=\"\" host=\"%1\" exit=%2 output=\"\"")
                 .arg(runnerOptions.isEmpty() ? QString() : QStringLiteral("Adobe Photoshop"))
                 .arg(programExit));
    QVERIFY(!anyChannelLeft());
}

void tst_OvFilterHost::staleChannelsAreRemovedFirst()
{
    HostChannel stale(FilterHostSession::PlaneNames[0]);
    QString error;
    QVERIFY(stale.create(10, &error));
    const ProcessResult result = run(filterHostPath(), {colourImage, dir.filePath("x.png"), "--", runnerPath()});
    QCOMPARE(result.exitCode, 1);
    QVERIFY(result.standardError.contains(
        QStringLiteral("warning: removed stale shared memory channel __orvaneLumivex_plane0")));
    QVERIFY(!anyChannelLeft());
}

QTEST_GUILESS_MAIN(tst_OvFilterHost)
#include "tst_ovfilterhost.moc"
