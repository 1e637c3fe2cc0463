#include "HostImageCodec.h"
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

#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif
#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

// The end-to-end runs of both modes through the real program: the external-editor round trip
// (enhanced files saved in place, or beside them without an editor) and the filter-host round
// trip through ovfilterhost's shared memory; then the exit codes of runs that cannot succeed.
class tst_LumivexHeadless : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QProcessEnvironment m_environment;

    static cv::Mat readRgb8(const QString &path)
    {
        const cv::Mat bgr = cv::imread(path.toStdString(), cv::IMREAD_UNCHANGED);
        if (bgr.empty() || bgr.channels() == 1)
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

    QByteArray read(const QString &name) const
    {
        QFile file(m_dir->filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QString write(const QString &name, const QByteArray &data) const
    {
        QFile file(m_dir->filePath(name));
        return file.open(QIODevice::WriteOnly) && file.write(data) == data.size() ? file.fileName() : QString();
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_environment = TestHelpers::isolatedEnvironment(m_dir->filePath(QStringLiteral("env")));
    }

    // Started by a program that opens files but is no editor (a launcher under a file manager's
    // name): with an editor named the result replaces the file, without one it goes beside it.
    // Typed in a terminal the parent is the shell itself.
    void externalEditor_data()
    {
        QTest::addColumn<QString>("launcher");
        QTest::addColumn<QString>("editor");
        QTest::addColumn<QString>("written");
#ifdef Q_OS_WIN
        const QString fileManager = QStringLiteral("explorer.exe");
        const QString shell = QStringLiteral("cmd.exe");
#else
        const QString fileManager = QStringLiteral("explorer");
        const QString shell = QStringLiteral("bash");
#endif
        QTest::newRow("editor: in place") << fileManager << "Capture One" << "sample.jpg";
        QTest::newRow("stand-alone: beside the original") << fileManager << "" << "sample-lumivex.jpg";
        QTest::newRow("typed in a shell, editor: in place") << shell << "Capture One" << "sample.jpg";
        QTest::newRow("typed in a shell: beside the original") << shell << "" << "sample-lumivex.jpg";
    }

    void externalEditor()
    {
        QFETCH(QString, launcher);
        QFETCH(QString, editor);
        QFETCH(QString, written);
        const QString input = m_dir->filePath(QStringLiteral("sample.jpg"));
        const QString second = m_dir->filePath(QStringLiteral("second.png"));
        QVERIFY(SampleImage::write(input, 480, 320));
        QVERIFY(SampleImage::write(second, 60, 40));
        const QString notes = write(QStringLiteral("notes.txt"), "not an image");
        const cv::Mat original = readRgb8(input);
        const QByteArray before = read(QStringLiteral("sample.jpg"));
        launcher = m_dir->filePath(launcher);
        QVERIFY(TestHelpers::makeLauncher(launcher));

        QStringList arguments{"--auto=enhance", "--verbose", input, second, notes};
        if (!editor.isEmpty())
            arguments.prepend(QStringLiteral("--editor=") + editor);
        LumivexProcess run(m_environment);
        run.start(TestHelpers::launcherArguments(QDir(TestHelpers::binDir()).filePath("lumivex"), arguments), launcher);
        QVERIFY(run.finish(120000));
        const QString output = run.output();
        // the text file; the warnings first, since a long output is cut short in the report
        QVERIFY2(run.process().exitCode() == 1,
                 qPrintable(QStringLiteral("exit code %1: ").arg(run.process().exitCode()) + run.errors() + output));
        const QString mode = QStringLiteral("mode=CLI name=\"%1\" pluginMode=%2")
                                 .arg(editor, editor.isEmpty() ? QStringLiteral("false") : QStringLiteral("true"));
        QVERIFY2(output.contains(mode), qPrintable(output));
        QVERIFY(output.contains(QStringLiteral("pluginImagesAdded ids=[\"%1\", \"%2\"] mergingInstance=false").arg(input, second)));
        QVERIFY(output.contains(QStringLiteral("invalidImages invalidFiles=[\"%1\"]").arg(notes)));
        written = m_dir->filePath(written);
        QVERIFY(output.contains(QStringLiteral("saved id=\"%1\" outputPath=\"%2\" status=ok").arg(input, written)));
        QVERIFY(output.contains(QLatin1String("done saved=2 failed=1")));
        QCOMPARE(read(QStringLiteral("sample.jpg")) == before, editor.isEmpty());

        // The enhancement applied here to the same decoded input; JPEG re-encoding costs a little.
        const cv::Mat result = readRgb8(written);
        QCOMPARE(result.cols, 480);
        QCOMPARE(result.rows, 320);
        const double difference = meanDifference(result, ImageOperation::enhance(original));
        QVERIFY2(difference < 2.5, qPrintable(QStringLiteral("result differs by %1 on average").arg(difference)));
        QVERIFY(meanDifference(result, original) > 10.0);
    }

    void filterHost_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("depth");
        QTest::addColumn<int>("channels");
        QTest::addColumn<QString>("describe");
        const QString interactive = QStringLiteral("silent=false resizing=false mergeKey=\"PhotoShopFilter\"");
        QTest::newRow("16-bit with mask") << QStringList() << int(CV_16U) << 4 << interactive;
        QTest::newRow("--no-mask") << QStringList{"--no-mask"} << int(CV_16U) << 4 << interactive;
        QTest::newRow("8-bit, padded rows") << QStringList{"--row-padding", "10"} << int(CV_8U) << 3 << interactive;
        QTest::newRow("gray with mask") << QStringList{"--gray"} << int(CV_16U) << 4 << interactive;
        QTest::newRow("silent") << QStringList{"--run-mode", "0"} << int(CV_8U) << 1
                                << QStringLiteral("silent=true resizing=false mergeKey=\"PhotoShopFilterSilent\"");
    }

    void filterHost()
    {
        QFETCH(QStringList, options);
        QFETCH(int, depth);
        QFETCH(int, channels);
        QFETCH(QString, describe);
        const QString input = m_dir->filePath(QStringLiteral("in.png"));
        const QString output = m_dir->filePath(QStringLiteral("out.png"));
        QVERIFY(cv::imwrite(input.toStdString(), TestHelpers::makePattern(57, 43, depth, channels)));
        const QString icc = write(QStringLiteral("profile.icc"), QByteArray(333, 'i'));
        // The host's settings: what the filter stored last time, with keys the host never gets back.
        const QString settingsIn = write(QStringLiteral("settings-in.json"), QJsonDocument(QJsonObject{
            {"version", 3},
            {"Denoise", R"({"params":{"auto":true,"level":3}})"}}).toJson());
        const QString settingsOut = m_dir->filePath(QStringLiteral("settings-out.json"));

        LumivexProcess run(m_environment);
        run.start(options + QStringList{"--icc", icc, "--settings-in", settingsIn, "--settings-out", settingsOut, input, output,
                                        "--", QDir(TestHelpers::binDir()).filePath(QStringLiteral("lumivex")),
                                        "--verbose", "--auto=identity"},
                  QStringLiteral("ovfilterhost"));
        QVERIFY(run.finish(120000));
        const QString printed = run.output();
        QVERIFY2(run.process().exitCode() == 0, qPrintable(printed + run.errors()));
        QVERIFY(printed.contains(QStringLiteral("ovfilterhost: status=0 message=\"\" host=\"Adobe Photoshop\" exit=0")));
        QVERIFY2(printed.contains(QLatin1String("mode=PSFilter name=\"Adobe Photoshop\" pluginMode=true ") + describe),
                 qPrintable(printed));
        QVERIFY(printed.contains(QLatin1String("pluginImagesAdded ids=[\"Adobe Photoshop Image\"] mergingInstance=false")));
        QVERIFY(printed.contains(QLatin1String("size=57x43")));
        const bool gray = options.contains(QStringLiteral("--gray")) || channels == 1;
        QVERIFY(printed.contains(QStringLiteral("EXIF:SamplesPerPixel=%1, ICC_Profile:ICC_Profile=<333 bytes>").arg(gray ? 1 : 3)));
        // The settings are stored by the time the request returns, so the run prints them at once.
        const QString enhance = QStringLiteral("{\"params\":{\"operation\":\"identity\"}}");
        QVERIFY2(printed.contains(QStringLiteral("settings Enhance=") + enhance), qPrintable(printed));

        const QJsonObject stored = QJsonDocument::fromJson(read(QStringLiteral("settings-out.json"))).object();
        QCOMPARE(stored.value("settingsWritten").toInt(), 1);
        QCOMPARE(stored.value("version").toInt(), 1);
        QCOMPARE(stored.value("Enhance").toString(), enhance);
        QCOMPARE(stored.value("Denoise").toString(), QStringLiteral(R"({"params":{"level":3}})"));

        HostImage sent;
        HostImage received;
        QString error;
        QVERIFY(HostImageCodec::readFile(input, gray, options.contains(QStringLiteral("--no-mask")), &sent, &error));
        QVERIFY2(HostImageCodec::readFile(output, gray, false, &received, &error), qPrintable(error));
        QCOMPARE(received.mask.empty(), sent.mask.empty());
        // Every host sample comes back as it was sent.
        for (int k = 0; k < 3 + int(!sent.mask.empty()); ++k)
            QCOMPARE(cv::norm(k < 3 ? received.planes[k] : received.mask, k < 3 ? sent.planes[k] : sent.mask, cv::NORM_INF), 0.0);
    }

    // The back end is never destroyed, so its ExifTool helper is not shut down politely: it must
    // still end with the run, whether the run finishes or is stopped.
#ifdef Q_OS_LINUX
    void noExifToolOutlivesTheRun_data()
    {
        QTest::addColumn<int>("signalNumber"); // 0: the run ends by itself
        QTest::newRow("run to the end") << 0;
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGKILL") << int(SIGKILL);
    }
#endif

    void noExifToolOutlivesTheRun()
    {
#ifndef Q_OS_LINUX
        QSKIP("An orphaned helper is found here through Linux's child subreaper and /proc");
#else
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
#endif
    }

    void runsThatCannotSucceed_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::newRow("no files") << QStringList{"--auto=enhance"} << 0 << "no images to process";
        QTest::newRow("damaged image") << QStringList{"--auto=identity", "--editor=Capture One", "broken.jpg"} << 1 << "loading";
        QTest::newRow("unknown operation") << QStringList{"--auto=sharpen", "a.jpg"} << 2 << "unknown operation";
        // "?" names a file that is not created, "|" one made a FIFO; the library passes over both.
        QTest::newRow("only a missing file") << QStringList{"--auto=identity", "--editor=E", "?gone.jpg"} << 1
                                             << "gone.jpg\": the file does not exist";
        QTest::newRow("FIFO") << QStringList{"--auto=identity", "--editor=E", "|pipe.jpg"} << 1 << "pipe.jpg\": not a regular file";
        QTest::newRow("newline in a name") << QStringList{"--auto=identity", "--editor=E", "two\nlines.txt"} << 1
                                           << "two\\nlines.txt\"";
        QTest::newRow("sample help") << QStringList{"lumivex-sample", "--help"} << 0 << "Usage: lumivex-sample";
        // "!" names a photo its user made read-only, "%" a JPEG cut off halfway; neither may change.
        // They catch a save that replaces a protected original (a rename over it succeeds on
        // Linux, and fails on Windows for another reason) and a cut-off photo saved back whole.
        QTest::newRow("read-only original") << QStringList{"--auto=identity", "--editor=Capture One", "!kept.jpg"} << 1
                                            << "the file is read-only";
        QTest::newRow("cut-off JPEG") << QStringList{"--auto=identity", "--editor=Capture One", "%cut.jpg"} << 1
                                      << "the file is truncated";
    }

    static QByteArray contents(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // A real photo for the rows that name one: read-only ("!") or cut off halfway ("%").
    static bool writePhoto(const QString &path, QChar kind)
    {
        if (!SampleImage::write(path, 640, 480))
            return false;
        QFile file(path);
        if (kind == QLatin1Char('%'))
            return file.resize(file.size() / 2);
        return file.setPermissions(QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    }

    void runsThatCannotSucceed()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        const QString program = arguments.first() == QLatin1String("lumivex-sample") ? arguments.takeFirst() : QStringLiteral("lumivex");
        QHash<QString, QByteArray> photos;
        for (QString &argument : arguments) {
            if (argument.startsWith(QLatin1String("--")))
                continue;
            const QChar kind = argument.front();
            const bool marked = QStringLiteral("?|!%").contains(kind);
            argument = m_dir->filePath(marked ? argument.mid(1) : argument);
            if (kind == QLatin1Char('!') || kind == QLatin1Char('%')) {
                QVERIFY(writePhoto(argument, kind));
                photos.insert(argument, contents(argument));
            } else if (kind == QLatin1Char('|')) {
#ifdef Q_OS_UNIX
                QCOMPARE(::mkfifo(QFile::encodeName(argument).constData(), 0600), 0);
#else
                QSKIP("FIFOs are a POSIX case");
#endif
            } else if (kind != QLatin1Char('?')) {
#ifdef Q_OS_WIN
                if (argument.contains(QLatin1Char('\n')))
                    QSKIP("Windows file names cannot hold a line break");
#endif
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
        for (auto photo = photos.cbegin(); photo != photos.cend(); ++photo) {
            QCOMPARE(contents(photo.key()), photo.value());
            QFile::setPermissions(photo.key(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        }
    }
    void unusableTemporaryFolder_data()
    {
        QTest::addColumn<QString>("temporary"); // what TMPDIR, TMP and TEMP name, in the test's folder
        QTest::newRow("names no folder") << "absent";
        QTest::newRow("names a file") << "notes.txt";
    }

    // Fault: with a TMPDIR that names no folder and no runtime folder in the session, Qt made its
    // own runtime folder as /runtime-<user> in the root folder, before the library's fallback
    // could take over. The whole run keeps to the fallback folder, the photo's folder and the
    // output.
    void unusableTemporaryFolder()
    {
        QFETCH(QString, temporary);
        QVERIFY(!write(QStringLiteral("notes.txt"), "not a folder").isEmpty());
        const QString input = m_dir->filePath(QStringLiteral("sample.jpg"));
        QVERIFY(SampleImage::write(input, 120, 80));
        QProcessEnvironment environment = m_environment;
        TestHelpers::setTemporaryFolder(environment, m_dir->filePath(temporary));
        environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        const QString cache = m_dir->filePath(QStringLiteral("cache"));
        environment.insert(QStringLiteral("XDG_CACHE_HOME"), cache);

        LumivexProcess run(environment);
        run.start({QStringLiteral("--auto=identity"), QStringLiteral("--editor=Capture One"), input});
        QVERIFY(run.finish(120000));
        const QString said = run.output() + run.errors();
        QVERIFY2(run.process().exitCode() == 0, qPrintable(said));
        QVERIFY2(said.contains(QLatin1String("cannot be used; using")), qPrintable(said));
#ifdef Q_OS_WIN
        // Qt derives no folder of its own from the temporary one on Windows.
#else
        const QString fallback = cache + QStringLiteral("/Orvane/lumivex/temp");
        QVERIFY2(said.contains(QStringLiteral("defaulting to '%1/runtime-").arg(fallback)), qPrintable(said));
        QVERIFY(QFileInfo(fallback).isDir());
#endif
    }
};

QTEST_GUILESS_MAIN(tst_LumivexHeadless)
#include "tst_lumivexheadless.moc"
