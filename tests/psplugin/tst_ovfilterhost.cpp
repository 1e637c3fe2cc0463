// The filter-module stand-in as a program: its command line, its exit codes, the hand-over to
// a real back end in a child process and the clean-up of its channels.

#include "PSTestSupport.h"

#include "FilterHostSession.h"
#include "HostChannel.h"
#include "TestHelpers.h"

#include <boost/interprocess/shared_memory_object.hpp>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <opencv2/imgcodecs.hpp>

using namespace PSTestSupport;

namespace {

bool anyChannelLeft()
{
    const QStringList removed = FilterHostSession::removeStaleChannels();
    return !removed.isEmpty();
}

} // namespace

class tst_OvFilterHost : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void helpDocumentsTheCommandLine();
    void usageErrors_data();
    void usageErrors();
    void runWithoutSave_data();
    void runWithoutSave();
    void failureOfTheApplication();
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

void tst_OvFilterHost::helpDocumentsTheCommandLine()
{
    const ProcessResult result = run(filterHostPath(), {QStringLiteral("--help")});
    QCOMPARE(result.exitCode, 0);
    for (const char *text : {"INPUT_IMAGE OUTPUT_IMAGE -- PROGRAM", "Orvane_Lumivex_PS_Plugin", "Exit codes",
                             "--settings-in", "--settings-out", "--signature", "--process-name", "--host-version",
                             "--run-mode", "--gray", "--no-mask", "--icc", "hostDisplayName=", "0600", "--corrupt",
                             "missing-plane0", "unterminated-settings", "--keep-locks"})
        QVERIFY2(result.standardOutput.contains(QLatin1String(text)), text);
}

void tst_OvFilterHost::usageErrors_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("complaint");
    const QString out = QStringLiteral("/nonexistent-dir/out.png");
    QTest::newRow("no arguments") << QStringList() << "expected INPUT_IMAGE";
    QTest::newRow("no program") << QStringList{"in.png", out} << "expected -- PROGRAM";
    QTest::newRow("unknown option") << QStringList{"--bogus", "in.png", out, "--", "true"} << "bogus";
    QTest::newRow("bad version") << QStringList{"--host-version", "24.1", "in.png", out, "--", "true"} << "--host-version";
    QTest::newRow("bad signature") << QStringList{"--signature", "8BI", "in.png", out, "--", "true"} << "--signature";
    QTest::newRow("bad run mode") << QStringList{"--run-mode", "300", "in.png", out, "--", "true"} << "--run-mode";
    QTest::newRow("unreadable input") << QStringList{"/nonexistent/in.png", out, "--", "true"} << "cannot read";
    QTest::newRow("missing program") << QStringList{"@INPUT@", out, "--", "/nonexistent/program"} << "cannot start";
    QTest::newRow("settings text too long") << QStringList{"--settings-in", "@LONGSETTINGS@", "@INPUT@", out, "--", "true"}
                                            << "longer than its field";
}

void tst_OvFilterHost::usageErrors()
{
    QFETCH(QStringList, args);
    QFETCH(QString, complaint);
    const QString longSettings = dir.filePath(QStringLiteral("long.json"));
    QFile file(longSettings);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QJsonDocument(QJsonObject{{"Denoise", QString(1025, QLatin1Char('a'))}}).toJson());
    file.close();
    args.replaceInStrings(QStringLiteral("@INPUT@"), colourImage);
    args.replaceInStrings(QStringLiteral("@LONGSETTINGS@"), longSettings);

    const ProcessResult result = run(filterHostPath(), args);
    QCOMPARE(result.exitCode, 4);
    QVERIFY2(result.standardError.contains(complaint), qPrintable(result.standardError));
    QVERIFY(!anyChannelLeft());
}

void tst_OvFilterHost::runWithoutSave_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("size");
    QTest::addColumn<bool>("manual");
    QTest::newRow("defaults") << QStringList() << "Adobe Photoshop" << "40x30" << false;
    QTest::newRow("gray, padded rows") << QStringList{"--gray", "--row-padding", "6"} << "Adobe Photoshop" << "40x30" << false;
    QTest::newRow("no mask, other host") << QStringList{"--no-mask", "--signature", "Orvn", "--process-name", "Studio.exe"}
                                         << "Orvane Studio" << "40x30" << false;
    QTest::newRow("silent affinity") << QStringList{"--run-mode", "0", "--signature", "AffP", "--process-name", "Photo2.exe"}
                                     << "Affinity Photo 2" << "40x30" << true;
    QTest::newRow("run mode 2") << QStringList{"--run-mode", "2"} << "Adobe Photoshop" << "40x30" << true;
}

void tst_OvFilterHost::runWithoutSave()
{
    QFETCH(QStringList, options);
    QFETCH(QString, host);
    QFETCH(QString, size);
    QFETCH(bool, manual);
    const QString settingsIn = dir.filePath(QStringLiteral("settings-in.json"));
    const QString settingsOut = dir.filePath(QStringLiteral("settings-out.json"));
    QFile::remove(settingsOut);
    const QJsonObject sent{{"version", 3}, {"Denoise", QJsonObject{{"strength", 5}}}, {"Sharpen", "{\"a\":1}"},
                           {"maskStrokes", QJsonArray{1, 2}}};
    QFile file(settingsIn);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QJsonDocument(sent).toJson());
    file.close();

    const QString output = dir.filePath(QStringLiteral("not-written.png"));
    const ProcessResult result = run(filterHostPath(),
        options + QStringList{"--settings-in", settingsIn, "--settings-out", settingsOut, colourImage, output, "--",
                              runnerPath(), "--print-settings"});
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.values.value("argv0"), QStringLiteral("Orvane_Lumivex_PS_Plugin"));
    QCOMPARE(result.values.value("imageSize"), size);
    QCOMPARE(summaryLine(result.standardOutput),
             QStringLiteral("ovfilterhost: status=1 message=\"\" host=\"%1\" exit=0 output=\"\"").arg(host));
    QVERIFY(!QFile::exists(output));

    const QJsonObject seen = QJsonDocument::fromJson(result.values.value("loadSettings").toUtf8()).object();
    QCOMPARE(seen.value("version").toInt(), 3);
    QCOMPARE(seen.value("Denoise").toString(), QStringLiteral("{\"strength\":5}"));
    QCOMPARE(seen.value("Sharpen").toString(), QStringLiteral("{\"a\":1}"));
    QCOMPARE(seen.value("maskStrokes").toString(), QStringLiteral("[1,2]"));
    QCOMPARE(seen.value("manual").toBool(), manual);

    QFile back(settingsOut);
    QVERIFY(back.open(QIODevice::ReadOnly));
    const QJsonObject returned = QJsonDocument::fromJson(back.readAll()).object();
    QCOMPARE(returned.value("version").toInt(), 3);
    QCOMPARE(returned.value("Denoise").toString(), QStringLiteral("{\"strength\":5}"));
    QCOMPARE(returned.value("settingsWritten").toInt(), 0);
    QVERIFY(!anyChannelLeft());
}

void tst_OvFilterHost::failureOfTheApplication()
{
    const ProcessResult result = run(filterHostPath(), {colourImage, dir.filePath("x.png"), "--", runnerPath(),
                                                        "--inject-damaged-guard", "1"});
    QCOMPARE(result.exitCode, 2);
    QVERIFY(result.standardError.contains(QStringLiteral("the application failed: IPC memory verify fail")));
    QCOMPARE(summaryLine(result.standardOutput),
             QStringLiteral("ovfilterhost: status=2 message=\"IPC memory verify fail\" host=\"Adobe Photoshop\" exit=255 output=\"\""));
    QVERIFY(!anyChannelLeft());
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
