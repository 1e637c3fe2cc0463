#include "ImageOperation.h"
#include "LumivexProcess.h"
#include "SampleImage.h"
#include "TestHelpers.h"

#include "imaging/CvUtils.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <csignal>
#include <sys/prctl.h>
#include <sys/stat.h>

// Headless runs of the real program: the external-editor round trip (file saved back in place)
// and the filter-host round trip through ovfilterhost's shared memory, each with both operations;
// then the exit codes of runs that cannot succeed.
class tst_LumivexHeadless : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QProcessEnvironment m_environment;

    static cv::Mat readRgb8(const QString &path)
    {
        const cv::Mat bgr = cv::imread(path.toStdString(), cv::IMREAD_UNCHANGED);
        if (bgr.empty())
            return bgr;
        cv::Mat rgb;
        cv::cvtColor(bgr, rgb, bgr.channels() == 4 ? cv::COLOR_BGRA2RGB : cv::COLOR_BGR2RGB);
        return CvUtils::convert(rgb, CV_8U);
    }

    // Living `exiftool -stay_open` processes whose parent is `parent`.
    static QList<qint64> exifToolsOf(qint64 parent)
    {
        QList<qint64> found;
        for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            const qint64 pid = entry.toLongLong();
            const QList<QByteArray> fields = TestHelpers::processStatFields(pid);
            if (fields.size() > 1 && fields.at(0) != "Z" && fields.at(1).toLongLong() == parent
                && TestHelpers::processArguments(pid).contains("-stay_open"))
                found << pid;
        }
        return found;
    }

    static double meanDifference(const cv::Mat &a, const cv::Mat &b)
    {
        return cv::norm(a, b, cv::NORM_L1) / double(a.total() * a.channels());
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_environment = TestHelpers::isolatedEnvironment(m_dir->filePath(QStringLiteral("env")));
    }

    void roundTrip_data()
    {
        QTest::addColumn<bool>("filterHost");
        QTest::addColumn<QString>("operation");
        // Largest mean difference between the result and the operation applied here to the same
        // decoded input: JPEG re-encoding costs a little, the 15-bit host scale almost nothing.
        QTest::addColumn<double>("tolerance");
        QTest::newRow("external editor, identity") << false << "identity" << 2.0;
        QTest::newRow("external editor, enhance") << false << "enhance" << 2.5;
        QTest::newRow("filter host, identity") << true << "identity" << 0.6;
        QTest::newRow("filter host, enhance") << true << "enhance" << 0.6;
    }

    void roundTrip()
    {
        QFETCH(bool, filterHost);
        QFETCH(QString, operation);
        QFETCH(double, tolerance);
        const QString input = m_dir->filePath(filterHost ? QStringLiteral("sample.png") : QStringLiteral("sample.jpg"));
        QVERIFY(SampleImage::write(input, 480, 320));
        const cv::Mat original = readRgb8(input);
        bool known = false;
        const ImageOperation::Kind kind = ImageOperation::fromName(operation, &known);
        const cv::Mat expected = kind == ImageOperation::Enhance ? ImageOperation::enhance(original) : original;

        LumivexProcess run(m_environment);
        QString resultPath;
        if (filterHost) {
            resultPath = m_dir->filePath(QStringLiteral("out.png"));
            const QString settings = m_dir->filePath(QStringLiteral("settings.json"));
            run.start({QStringLiteral("--settings-out"), settings, input, resultPath, QStringLiteral("--"),
                       QDir(TestHelpers::binDir()).filePath(QStringLiteral("lumivex")), QStringLiteral("--auto=") + operation},
                      QStringLiteral("ovfilterhost"));
            QVERIFY(run.finish(120000));
            QVERIFY2(run.process().exitCode() == 0, qPrintable(run.output() + run.errors()));
            QVERIFY2(run.output().contains(QStringLiteral("ovfilterhost: status=0 message=\"\" host=\"Adobe Photoshop\" exit=0")),
                     qPrintable(run.output()));
            QVERIFY(run.output().contains(QLatin1String("mode=PSFilter name=\"Adobe Photoshop\"")));
            QFile file(settings);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QJsonObject stored = QJsonDocument::fromJson(file.readAll()).object();
            QCOMPARE(QJsonDocument::fromJson(stored.value(QStringLiteral("Enhance")).toString().toUtf8()).object()
                         .value(QStringLiteral("params")).toObject().value(QStringLiteral("operation")).toString(),
                     operation);
        } else {
            resultPath = input;
            const QByteArray before = [&] { QFile f(input); f.open(QIODevice::ReadOnly); return f.readAll(); }();
            run.start({QStringLiteral("--auto=") + operation, QStringLiteral("--editor=Capture One"), input});
            QVERIFY(run.finish(120000));
            QVERIFY2(run.process().exitCode() == 0, qPrintable(run.output() + run.errors()));
            QVERIFY(run.output().contains(QLatin1String("mode=CLI name=\"Capture One\" pluginMode=true")));
            QVERIFY(run.output().contains(QStringLiteral("saved id=\"%1\" outputPath=\"%1\" status=ok").arg(input)));
            QFile after(input);
            QVERIFY(after.open(QIODevice::ReadOnly));
            QVERIFY2(after.readAll() != before, "the file was not written back");
        }
        QVERIFY(run.output().contains(QLatin1String("loaded id=")) && run.output().contains(QLatin1String("size=480x320")));
        QVERIFY(run.output().contains(QLatin1String("done saved=1 failed=0")));

        const cv::Mat result = readRgb8(resultPath);
        QCOMPARE(result.cols, 480);
        QCOMPARE(result.rows, 320);
        const double difference = meanDifference(result, expected);
        QVERIFY2(difference < tolerance, qPrintable(QStringLiteral("result differs by %1 on average").arg(difference)));
        if (kind == ImageOperation::Enhance)
            QVERIFY(meanDifference(result, original) > 4 * tolerance);
    }

    void standAloneKeepsTheOriginal()
    {
        const QString input = m_dir->filePath(QStringLiteral("holiday.png"));
        QVERIFY(SampleImage::write(input, 200, 150));
        const QByteArray before = [&] { QFile f(input); f.open(QIODevice::ReadOnly); return f.readAll(); }();
        // Started by a program that opens files but is no editor (a shell under such a name).
        const QString launcher = m_dir->filePath(QStringLiteral("explorer"));
        QVERIFY(QFile::copy(QStringLiteral("/bin/sh"), launcher));
        QVERIFY(QFile::setPermissions(launcher, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        LumivexProcess run(m_environment);
        run.start({QStringLiteral("-c"), QStringLiteral("\"$0\" --auto=enhance \"$1\"; exit $?"),
                   QDir(TestHelpers::binDir()).filePath(QStringLiteral("lumivex")), input},
                  launcher);
        QVERIFY(run.finish());
        QVERIFY2(run.process().exitCode() == 0, qPrintable(run.output() + run.errors()));
        QVERIFY2(run.output().contains(QLatin1String("mode=CLI name=\"\" pluginMode=false")), qPrintable(run.output()));
        const QString sibling = m_dir->filePath(QStringLiteral("holiday-lumivex.png"));
        QVERIFY2(run.output().contains(QStringLiteral("outputPath=\"%1\"").arg(sibling)), qPrintable(run.output()));
        QCOMPARE(readRgb8(sibling).cols, 200);
        QFile after(input);
        QVERIFY(after.open(QIODevice::ReadOnly));
        QCOMPARE(after.readAll(), before);
    }

    // The back end is never destroyed, so its ExifTool helper is not shut down politely: it must
    // still end with the run, whether the run finishes or is stopped.
    void noExifToolOutlivesTheRun_data()
    {
        QTest::addColumn<int>("signalNumber"); // 0: the run ends by itself
        QTest::newRow("run to the end") << 0;
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGKILL") << int(SIGKILL);
    }

    void noExifToolOutlivesTheRun()
    {
        QFETCH(int, signalNumber);
        // A helper orphaned by the run becomes our child, where it can be found.
        QCOMPARE(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
        const QString input = m_dir->filePath(QStringLiteral("large.jpg"));
        QVERIFY(SampleImage::write(input, 4000, 3000));
        LumivexProcess run(m_environment);
        run.start({QStringLiteral("--auto=identity"), QStringLiteral("--editor=E"), input});
        QVERIFY(run.process().waitForStarted());
        const qint64 pid = run.process().processId();
        QTRY_VERIFY(!exifToolsOf(pid).isEmpty());
        if (signalNumber != 0)
            QCOMPARE(::kill(pid_t(pid), signalNumber), 0);
        QVERIFY(run.finish(120000));
        QTRY_VERIFY(exifToolsOf(QCoreApplication::applicationPid()).isEmpty());
    }

    void runsThatCannotSucceed_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::newRow("no files") << QStringList{"--auto=enhance"} << 0 << "no images to process";
        QTest::newRow("not an image") << QStringList{"--auto=enhance", "--editor=Capture One", "notes.txt"} << 1 << "cannot open";
        QTest::newRow("damaged image") << QStringList{"--auto=identity", "--editor=Capture One", "broken.jpg"} << 1 << "loading";
        QTest::newRow("unknown operation") << QStringList{"--auto=sharpen", "a.jpg"} << 2 << "unknown operation";
        // "?" names a file that is not created, "|" one made a FIFO; the library passes over both.
        QTest::newRow("only a missing file") << QStringList{"--auto=identity", "--editor=E", "?gone.jpg"} << 1
                                             << "gone.jpg\": the file does not exist";
        QTest::newRow("FIFO") << QStringList{"--auto=identity", "--editor=E", "|pipe.jpg"} << 1 << "pipe.jpg\": not a regular file";
        QTest::newRow("newline in a name") << QStringList{"--auto=identity", "--editor=E", "two\nlines.txt"} << 1
                                           << "two\\nlines.txt\"";
        QTest::newRow("sample help") << QStringList{"lumivex-sample", "--help"} << 0 << "Usage: lumivex-sample";
    }

    void runsThatCannotSucceed()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        const QString program = arguments.first() == QLatin1String("lumivex-sample") ? arguments.takeFirst() : QStringLiteral("lumivex");
        for (QString &argument : arguments) {
            if (argument.startsWith(QLatin1String("--")))
                continue;
            const QChar kind = argument.front();
            argument = m_dir->filePath(kind == QLatin1Char('?') || kind == QLatin1Char('|') ? argument.mid(1) : argument);
            if (kind == QLatin1Char('|')) {
                QCOMPARE(::mkfifo(QFile::encodeName(argument).constData(), 0600), 0);
            } else if (kind != QLatin1Char('?')) {
                QFile file(argument);
                QVERIFY(file.open(QIODevice::WriteOnly));
                file.write("this is no picture\n");
            }
        }
        LumivexProcess run(m_environment);
        run.start(arguments, program);
        QVERIFY(run.finish());
        QCOMPARE(run.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.process().exitCode(), exitCode);
        QVERIFY2((run.output() + run.errors()).contains(message), qPrintable(run.output() + run.errors()));
    }
};

QTEST_GUILESS_MAIN(tst_LumivexHeadless)
#include "tst_lumivexheadless.moc"
