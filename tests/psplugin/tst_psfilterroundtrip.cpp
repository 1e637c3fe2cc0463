// A whole filter run through the filter-module stand-in: ovfilterhost starts psbackendrunner,
// which loads the image, saves it unchanged, saves settings and cleans up. The image that comes
// back equals the one sent, sample for sample on the host's scale.

#include "PSTestSupport.h"

#include "HostImageCodec.h"
#include "TestHelpers.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

using namespace PSTestSupport;

class tst_PSFilterRoundTrip : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void unchangedImageComesBack_data();
    void unchangedImageComesBack();
    void savedSettingsReachTheHost();

private:
    QTemporaryDir dir;
};

void tst_PSFilterRoundTrip::initTestCase()
{
    QVERIFY(dir.isValid());
}

void tst_PSFilterRoundTrip::unchangedImageComesBack_data()
{
    QTest::addColumn<int>("depth");
    QTest::addColumn<int>("channels");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("gray");
    QTest::addColumn<bool>("mask");
    QTest::newRow("16-bit RGBA, mask") << int(CV_16U) << 4 << QStringList() << false << true;
    QTest::newRow("16-bit RGBA, --no-mask") << int(CV_16U) << 4 << QStringList{"--no-mask"} << false << false;
    QTest::newRow("8-bit RGB, padded rows") << int(CV_8U) << 3 << QStringList{"--row-padding", "10"} << false << false;
    QTest::newRow("8-bit gray") << int(CV_8U) << 1 << QStringList() << true << false;
    QTest::newRow("16-bit RGBA as gray with mask") << int(CV_16U) << 4 << QStringList{"--gray"} << true << true;
}

void tst_PSFilterRoundTrip::unchangedImageComesBack()
{
    QFETCH(int, depth);
    QFETCH(int, channels);
    QFETCH(QStringList, options);
    QFETCH(bool, gray);
    QFETCH(bool, mask);
    const QString input = dir.filePath(QStringLiteral("in.png"));
    const QString output = dir.filePath(QStringLiteral("out.png"));
    QFile::remove(output);
    QVERIFY(cv::imwrite(input.toStdString(), TestHelpers::makePattern(57, 43, depth, channels)));
    const QString icc = dir.filePath(QStringLiteral("profile.icc"));
    QFile profile(icc);
    QVERIFY(profile.open(QIODevice::WriteOnly));
    profile.write(QByteArray(333, 'i'));
    profile.close();

    const ProcessResult result = run(filterHostPath(), options + QStringList{"--icc", icc, input, output, "--",
                                                                              runnerPath(), "--load", "--save-unchanged"});
    QCOMPARE(result.exitCode, 0);
    QVERIFY(result.standardOutput.contains(
        QStringLiteral("ovfilterhost: status=0 message=\"\" host=\"Adobe Photoshop\" exit=0 output=\"%1\"").arg(output)));
    QCOMPARE(result.values.value("imageSaved"), QStringLiteral("host output"));
    const QString loaded = result.values.value("imageLoaded");
    QVERIFY(loaded.contains(QStringLiteral("\"ICC_Profile:ICC_Profile\":\"333 bytes\"")));
    QVERIFY(loaded.contains(QStringLiteral("\"EXIF:SamplesPerPixel\":%1").arg(gray ? 1 : 3)));
    QVERIFY(loaded.contains(QStringLiteral("\"image\":\"57x43 channels 4 depth 2\"")));

    HostImage sent;
    HostImage received;
    QString error;
    QVERIFY(HostImageCodec::readFile(input, options.contains("--gray"), options.contains("--no-mask"), &sent, &error));
    QVERIFY2(HostImageCodec::readFile(output, gray, false, &received, &error), qPrintable(error));
    QCOMPARE(sent.gray, gray);
    QCOMPARE(received.mask.empty(), !mask);
    for (int k = 0; k < 3; ++k)
        QCOMPARE(cv::norm(received.planes[k], sent.planes[k], cv::NORM_INF), 0.0);
    if (mask)
        QCOMPARE(cv::norm(received.mask, sent.mask, cv::NORM_INF), 0.0);
}

void tst_PSFilterRoundTrip::savedSettingsReachTheHost()
{
    const QString input = dir.filePath(QStringLiteral("small.png"));
    QVERIFY(cv::imwrite(input.toStdString(), TestHelpers::makePattern(8, 8, CV_8U, 3)));
    const QString toSave = dir.filePath(QStringLiteral("save.json"));
    const QString settingsOut = dir.filePath(QStringLiteral("back.json"));
    const QJsonObject saved{
        {"Denoise", QJsonObject{{"category", "Denoise"}, {"params", QJsonObject{{"auto", true}, {"level", 3}}}}},
        {"subjectSettings", QJsonObject{{"strokes", QJsonArray{1, 2, 3}}, {"originalSubjectPath", "x"}, {"mode", "fg"}}}};
    QFile file(toSave);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QJsonDocument(saved).toJson());
    file.close();

    const ProcessResult result = run(filterHostPath(), {"--settings-out", settingsOut, input, dir.filePath("o.png"), "--",
                                                        runnerPath(), "--save-settings", toSave});
    QCOMPARE(result.exitCode, 1); // settings only, no image
    QFile back(settingsOut);
    QVERIFY(back.open(QIODevice::ReadOnly));
    const QJsonObject host = QJsonDocument::fromJson(back.readAll()).object();
    QCOMPARE(host.value("version").toInt(), 1);
    QCOMPARE(host.value("settingsWritten").toInt(), 1);
    QCOMPARE(host.value("Denoise").toString(), QStringLiteral("{\"params\":{\"level\":3}}"));
    QCOMPARE(host.value("Sharpen").toString(), QStringLiteral("{\"params\":{}}"));
    QCOMPARE(host.value("subjectSettings").toString(), QStringLiteral("{\"mode\":\"fg\"}"));
    QCOMPARE(host.value("maskStrokes").toString(), QStringLiteral("[1,2,3]"));
}

QTEST_GUILESS_MAIN(tst_PSFilterRoundTrip)
#include "tst_psfilterroundtrip.moc"
