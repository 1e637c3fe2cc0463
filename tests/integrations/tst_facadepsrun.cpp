#include "TestHelpers.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

namespace {

constexpr int runTimeoutMs = 120000;

// The "key=value" lines of the client, and the host's summary fields under "host.<field>".
QMap<QString, QString> parseOutput(const QByteArray &output)
{
    QMap<QString, QString> values;
    const QRegularExpression summaryField(QStringLiteral("(\\w+)=(\"[^\"]*\"|\\S*)"));
    for (const QByteArray &rawLine : output.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.startsWith(QLatin1String("ovfilterhost: "))) {
            auto it = summaryField.globalMatch(line);
            while (it.hasNext()) {
                const auto match = it.next();
                QString value = match.captured(2);
                if (value.startsWith(QLatin1Char('"')))
                    value = value.mid(1, value.size() - 2);
                values.insert(QStringLiteral("host.") + match.captured(1), value);
            }
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals > 0)
            values.insert(line.left(equals), line.mid(equals + 1));
    }
    return values;
}

} // namespace

// One filter-host run through the facade: ovfilterhost plays the host's filter module and starts
// the client program, which drives OvIntegrations from start() to cleanup().
class tst_FacadePsRun : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void filterHostRun_data();
    void filterHostRun();
};

void tst_FacadePsRun::filterHostRun_data()
{
    QTest::addColumn<QString>("runMode");
    QTest::addColumn<QString>("isSilent");
    QTest::addColumn<QString>("mergableInstanceKey");
    QTest::newRow("interactive") << QStringLiteral("1") << QStringLiteral("false")
                                 << QStringLiteral("PhotoShopFilter");
    QTest::newRow("silent") << QStringLiteral("0") << QStringLiteral("true")
                            << QStringLiteral("PhotoShopFilterSilent");
}

void tst_FacadePsRun::filterHostRun()
{
    QFETCH(QString, runMode);
    QFETCH(QString, isSilent);
    QFETCH(QString, mergableInstanceKey);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString input = dir.filePath(QStringLiteral("input.png"));
    const QString output = dir.filePath(QStringLiteral("output.png"));
    const QString settingsIn = dir.filePath(QStringLiteral("settings-in.json"));
    const QString settingsOut = dir.filePath(QStringLiteral("settings-out.json"));
    const cv::Mat pattern = TestHelpers::makePattern(48, 24, CV_16U, 3);
    QVERIFY(cv::imwrite(input.toStdString(), pattern));
    {
        QFile file(settingsIn);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(R"({"version": 3, "Denoise": "{\"params\":{\"strength\":7}}"})");
    }

    QProcess host;
    host.setProgram(TestHelpers::binDir() + QStringLiteral("/ovfilterhost"));
    host.setArguments({QStringLiteral("--run-mode"), runMode, QStringLiteral("--settings-in"),
                       settingsIn, QStringLiteral("--settings-out"), settingsOut,
                       QStringLiteral("--timeout"), QStringLiteral("90"), input, output,
                       QStringLiteral("--"),
                       TestHelpers::binDir() + QStringLiteral("/ovfacadepsclient")});
    host.start();
    QVERIFY2(host.waitForStarted(), qPrintable(host.errorString()));
    QVERIFY(host.waitForFinished(runTimeoutMs));
    const QByteArray out = host.readAllStandardOutput();
    const QByteArray err = host.readAllStandardError();
    const QMap<QString, QString> seen = parseOutput(out);
    const QByteArray diagnostics = out + "\n--- stderr ---\n" + err;

    QVERIFY2(host.exitStatus() == QProcess::NormalExit, diagnostics.constData());
    QVERIFY2(seen.value(QStringLiteral("result")) == QLatin1String("0"), diagnostics.constData());
    QVERIFY2(host.exitCode() == 0, diagnostics.constData());
    QCOMPARE(seen.value(QStringLiteral("host.status")), QStringLiteral("0"));
    QCOMPARE(seen.value(QStringLiteral("host.exit")), QStringLiteral("0"));

    // The marker as argv[0] chose filter-host mode, whose back end answers the queries.
    QCOMPARE(seen.value(QStringLiteral("pluginType")), QStringLiteral("0"));
    QCOMPARE(seen.value(QStringLiteral("isSilent")), isSilent);
    QCOMPARE(seen.value(QStringLiteral("mergableInstanceKey")), mergableInstanceKey);
    QCOMPARE(seen.value(QStringLiteral("resizingSupported")), QStringLiteral("false"));
    QCOMPARE(seen.value(QStringLiteral("isPluginMode")), QStringLiteral("true"));
    QCOMPARE(seen.value(QStringLiteral("canMergeInstance")), QStringLiteral("false"));
    const QString hostName = seen.value(QStringLiteral("hostDisplayName"));
    QVERIFY(!hostName.isEmpty());
    QCOMPARE(seen.value(QStringLiteral("host.host")), hostName);

    QCOMPARE(seen.value(QStringLiteral("imagesAdded")), hostName + QStringLiteral(" Image"));
    QCOMPARE(seen.value(QStringLiteral("trackEvent")), QStringLiteral("Plugin Host Info"));
    QCOMPARE(seen.value(QStringLiteral("loadedSize")), QStringLiteral("48x24"));
    QCOMPARE(seen.value(QStringLiteral("imageSize")), QStringLiteral("48x24"));

    // Settings: the host's block first, then what saveSettings stored before its emit returned.
    QCOMPARE(seen.value(QStringLiteral("hostDenoise")), QStringLiteral("{\"params\":{\"strength\":7}}"));
    QCOMPARE(seen.value(QStringLiteral("settingsVersion")), QStringLiteral("1"));
    const QString denoise = QStringLiteral("{\"params\":{\"strength\":42}}");
    QCOMPARE(seen.value(QStringLiteral("settingsDenoise")), denoise);
    QFile returned(settingsOut);
    QVERIFY(returned.open(QIODevice::ReadOnly));
    const QJsonObject block = QJsonDocument::fromJson(returned.readAll()).object();
    QCOMPARE(block.value(QStringLiteral("Denoise")).toString(), denoise);

    // The image went back unchanged, apart from the host's 15-bit scale.
    QCOMPARE(seen.value(QStringLiteral("saved")), hostName + QStringLiteral(" Image"));
    const cv::Mat delivered = cv::imread(output.toStdString(), cv::IMREAD_UNCHANGED);
    QCOMPARE(delivered.cols, 48);
    QCOMPARE(delivered.rows, 24);
    QCOMPARE(delivered.depth(), CV_16U);
    std::vector<cv::Mat> planes;
    cv::split(delivered, planes);
    QVERIFY(planes.size() >= 3);
    planes.resize(3);
    cv::Mat colour;
    cv::merge(planes, colour);
    QVERIFY2(cv::norm(colour, pattern, cv::NORM_INF) <= 4.0,
             qPrintable(QString::number(cv::norm(colour, pattern, cv::NORM_INF))));

    // The facade stopped its worker thread on the way out.
    QVERIFY(err.contains("Stopping OvIntegrations worker thread"));
    QVERIFY(err.contains("OvIntegrations worker thread stopped"));
}

QTEST_MAIN(tst_FacadePsRun)
#include "tst_facadepsrun.moc"
