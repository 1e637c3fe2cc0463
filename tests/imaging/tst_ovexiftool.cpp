#include "imaging/OvExifTool.h"

#include "TestHelpers.h"

#include <QDir>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

#include <memory>

namespace {

// Processes whose parent is this test and whose command line names ExifTool.
int exifToolChildren()
{
    int count = 0;
    for (const qint64 pid : TestHelpers::childProcesses())
        count += TestHelpers::processArguments(pid).join(' ').contains("exiftool");
    return count;
}

} // namespace

class tst_OvExifTool : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void answersInOrder();
    void thumbnail_data();
    void thumbnail();
    void worksWithoutExifTool();
    void misbehavingHelper_data();
    void misbehavingHelper();
    void destructorEndsExifTool();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
    std::unique_ptr<OvExifTool> m_exifTool; // one process for the cases that share it
};

void tst_OvExifTool::initTestCase()
{
    OV_SKIP_WITHOUT_WINDOWS_EXIFTOOL();
    QVERIFY(m_dir.isValid());
    const QString oriented = path(QStringLiteral("oriented-6.jpg"));
    QVERIFY(TestHelpers::writeRgbImage(oriented, TestHelpers::quadrants(64, 32)));
    QList<QStringList> commands{{QStringLiteral("-n"), QStringLiteral("-Orientation=6"), oriented}};
    // A photo whose embedded preview (flat green) differs from its pixels (quadrants).
    const QString preview = path(QStringLiteral("preview.jpg"));
    QVERIFY(TestHelpers::writeRgbImage(preview, cv::Mat(120, 160, CV_8UC3, cv::Scalar(0, 255, 0))));
    QVERIFY(TestHelpers::writeRgbImage(path(QStringLiteral("with-preview.jpg")), TestHelpers::quadrants(640, 480)));
    commands << QStringList{QStringLiteral("-ThumbnailImage<=") + preview, path(QStringLiteral("with-preview.jpg"))};
    QVERIFY(TestHelpers::runExifToolBatch(commands));
    QVERIFY(TestHelpers::writeRgbImage(path(QStringLiteral("plain.png")), TestHelpers::quadrants(2400, 1600)));
    QFile broken(path(QStringLiteral("broken.jpg")));
    QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write("not an image at all") > 0);

    m_exifTool = std::make_unique<OvExifTool>();
}

// Requests are answered later, from the event loop, one after another in the order asked; a file
// that cannot be read gives an empty map.
void tst_OvExifTool::answersInOrder()
{
    QStringList answers;
    QVariantMap first;
    QObject receiver;
    connect(m_exifTool.get(), &OvExifTool::readFinished, &receiver, [&](const QString &file, const QVariantMap &metadata) {
        if (answers.isEmpty())
            first = metadata;
        answers << QStringLiteral("metadata %1 %2").arg(QFileInfo(file).fileName()).arg(metadata.isEmpty());
    });
    connect(m_exifTool.get(), &OvExifTool::thumbnailFinished, &receiver,
            [&](const QString &thumbnail) { answers << QStringLiteral("thumbnail ") + QFileInfo(thumbnail).fileName(); });

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("could not read the metadata of.*gone\\.jpg")));
    m_exifTool->readMetadata(path(QStringLiteral("oriented-6.jpg")));
    m_exifTool->saveThumbnailToFile(path(QStringLiteral("plain.png")), path(QStringLiteral("ordered.jpeg")), 1);
    m_exifTool->readMetadata(path(QStringLiteral("gone.jpg")));
    m_exifTool->readMetadata(path(QStringLiteral("with-preview.jpg")));
    QVERIFY(answers.isEmpty());

    QTRY_COMPARE_WITH_TIMEOUT(answers.size(), 4, 20000);
    QCOMPARE(answers, (QStringList{"metadata oriented-6.jpg 0", "thumbnail ordered.jpeg", "metadata gone.jpg 1",
                                   "metadata with-preview.jpg 0"}));
    QCOMPARE(first.value(QStringLiteral("EXIF:Orientation")).toInt(), 6);
}

void tst_OvExifTool::thumbnail_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QSize>("expectedSize"); // empty: no thumbnail, and nothing left behind
    QTest::addColumn<QString>("expectedCorners");

    QTest::newRow("embedded preview") << "with-preview.jpg" << 1 << QSize(160, 120) << "GGGG";
    // A quarter of 2400 x 1600 is still too large: the long side becomes 512.
    QTest::newRow("reduced decode") << "plain.png" << 1 << QSize(512, 341) << "RGBW";
    QTest::newRow("reduced decode turned 6") << "plain.png" << 6 << QSize(341, 512) << "BRWG";
    QTest::newRow("unreadable source still finishes") << "broken.jpg" << 1 << QSize() << "";
}

void tst_OvExifTool::thumbnail()
{
    QFETCH(QString, source);
    QFETCH(int, orientation);
    QFETCH(QSize, expectedSize);
    QFETCH(QString, expectedCorners);

    QTemporaryDir folder;
    const QString thumbnail = folder.filePath(QStringLiteral("123-thumbnail.jpeg"));
    QSignalSpy finished(m_exifTool.get(), &OvExifTool::thumbnailFinished);
    if (expectedSize.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Cannot make a thumbnail of.*") + source));
    m_exifTool->saveThumbnailToFile(path(source), thumbnail, orientation);
    QVERIFY(finished.wait(20000));
    QCOMPARE(finished.first().first().toString(), thumbnail);
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
             expectedSize.isEmpty() ? QStringList() : QStringList{QStringLiteral("123-thumbnail.jpeg")});
    if (expectedSize.isEmpty())
        return;

    const cv::Mat written = cv::imread(QFile::encodeName(thumbnail).toStdString(), cv::IMREAD_COLOR);
    QCOMPARE(QSize(written.cols, written.rows), expectedSize);
    QCOMPARE(TestHelpers::quadrantCorners(written, true), expectedCorners);
}

void tst_OvExifTool::worksWithoutExifTool()
{
    const QByteArray savedPath = qgetenv("PATH");
    QTemporaryDir emptyBin;
    qputenv("PATH", QFile::encodeName(emptyBin.path()));
    OvExifTool exifTool;
    QSignalSpy read(&exifTool, &OvExifTool::readFinished);
    QSignalSpy thumbnails(&exifTool, &OvExifTool::thumbnailFinished);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("ExifTool could not be started")));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("could not read the metadata of")));
    exifTool.readMetadata(path(QStringLiteral("oriented-6.jpg")));
    QVERIFY(read.wait(20000));
    QVERIFY(read.first().at(1).toMap().isEmpty());

    // The thumbnail falls back to decoding the file itself.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("ExifTool could not be started")));
    const QString thumbnail = emptyBin.filePath(QStringLiteral("fallback-thumbnail.jpeg"));
    exifTool.saveThumbnailToFile(path(QStringLiteral("plain.png")), thumbnail, 6);
    QVERIFY(thumbnails.wait(20000));
    qputenv("PATH", savedPath);
    const cv::Mat written = cv::imread(QFile::encodeName(thumbnail).toStdString());
    QCOMPARE(QSize(written.cols, written.rows), QSize(341, 512)); // turned, as with ExifTool
}

void tst_OvExifTool::misbehavingHelper_data()
{
    QTest::addColumn<QByteArray>("body"); // the shell that answers to the name exiftool
    QTest::addColumn<int>("boundMs"); // for the metadata read and the preview together

    // Faults: an answer read without limit until memory runs out; a helper that has ended
    // waited for until the command's timeout; a hung one holding each command 30 s.
    QTest::newRow("writes without end") << QByteArray("exec cat /dev/zero") << 8000;
    QTest::newRow("exits at once, status 0") << QByteArray("exit 0") << 5000;
    QTest::newRow("exits at once, status 3") << QByteArray("exit 3") << 5000;
    // Still running when the command is written, so no write error tells that it has gone.
    QTest::newRow("exits on its first command, status 1") << QByteArray("read -r line; exit 1") << 5000;
    QTest::newRow("never answers") << QByteArray("exec sleep 600") << 25000;
}

// Whatever answers to the name gets a bounded time and memory; the load goes on without it: an
// empty metadata map, and a thumbnail decoded from the file.
void tst_OvExifTool::misbehavingHelper()
{
    QFETCH(QByteArray, body);
    QFETCH(int, boundMs);
    QTemporaryDir bin;
    if (!TestHelpers::writeStandInExifTool(bin.path(), body))
        QSKIP("The stand-in helpers are shell scripts, which Windows does not start as exiftool");
    const QByteArray savedPath = TestHelpers::prependToPath(bin.path());
    const auto restore = qScopeGuard([&] { qputenv("PATH", savedPath); });
    // Fault: a helper that failed a write was left running to QProcess's destructor.
    QTest::failOnWarning(QRegularExpression(QStringLiteral("Destroyed while process")));

    OvExifTool exifTool;
    QSignalSpy read(&exifTool, &OvExifTool::readFinished);
    QSignalSpy thumbnails(&exifTool, &OvExifTool::thumbnailFinished);
    const QString thumbnail = bin.filePath(QStringLiteral("decoded-thumbnail.jpeg"));
    QElapsedTimer clock;
    clock.start();
    exifTool.readMetadata(path(QStringLiteral("oriented-6.jpg")));
    exifTool.saveThumbnailToFile(path(QStringLiteral("plain.png")), thumbnail, 6);
    QVERIFY(thumbnails.wait(boundMs + 10000));
    const qint64 elapsed = clock.elapsed();
    qInfo() << "answered in" << elapsed << "ms, peak memory" << TestHelpers::peakMemoryBytes() / (1 << 20) << "MiB";
    QVERIFY2(elapsed < boundMs, qPrintable(QString::number(elapsed)));
    QCOMPARE(read.size(), 1);
    QVERIFY(read.first().at(1).toMap().isEmpty());
    const cv::Mat written = cv::imread(QFile::encodeName(thumbnail).toStdString());
    QCOMPARE(QSize(written.cols, written.rows), QSize(341, 512));
    const qint64 peak = TestHelpers::peakMemoryBytes();
    QVERIFY2(peak < 0 || peak < 1024LL * 1024 * 1024, qPrintable(QString::number(peak)));
}

// One long-lived ExifTool per wrapper, ended with it.
void tst_OvExifTool::destructorEndsExifTool()
{
    m_exifTool.reset();
    QCOMPARE(exifToolChildren(), 0);
    auto exifTool = std::make_unique<OvExifTool>();
    QSignalSpy finished(exifTool.get(), &OvExifTool::readFinished);
    for (const char *name : {"with-preview.jpg", "oriented-6.jpg"}) {
        exifTool->readMetadata(path(QLatin1String(name)));
        QVERIFY(finished.wait(20000));
        QCOMPARE(exifToolChildren(), 1);
    }
    exifTool.reset();
    QCOMPARE(exifToolChildren(), 0);
}

QTEST_GUILESS_MAIN(tst_OvExifTool)
#include "tst_ovexiftool.moc"
