#include "imaging/ImageData.h"
#include "imaging/OvImageWriter.h"

#include "TestHelpers.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <memory>

#ifdef Q_OS_LINUX
#include <sys/mount.h>
#endif

namespace {

// The pattern as a file of `type` holds it: in that depth, alpha only when kept, blue first
// unless `swapped`.
cv::Mat asStored(const cv::Mat &rgb, int type, bool swapped)
{
    cv::Mat result = rgb;
    if (CV_MAT_DEPTH(type) == CV_8U && rgb.depth() == CV_16U)
        rgb.convertTo(result, CV_8U, 255.0 / 65535.0);
    if (!swapped && result.channels() >= 3) {
        cv::Mat ordered;
        cv::cvtColor(result, ordered, result.channels() == 4 ? cv::COLOR_RGBA2BGRA : cv::COLOR_RGB2BGR);
        result = ordered;
    }
    if (result.channels() == 4 && CV_MAT_CN(type) == 3)
        cv::cvtColor(result, result, cv::COLOR_BGRA2BGR);
    return result;
}

cv::Mat readBack(const QString &path)
{
    return cv::imread(QFile::encodeName(path).toStdString(), cv::IMREAD_UNCHANGED);
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// Records the outcome of one save.
struct SaveRecorder
{
    explicit SaveRecorder(OvImageWriter &writer)
        : progress(&writer, &OvImageWriter::writeProgress)
        , saved(&writer, &OvImageWriter::imageSaved)
        , failed(&writer, &OvImageWriter::errorSaving)
    {
    }

    QSignalSpy progress;
    QSignalSpy saved;
    QSignalSpy failed;
};

} // namespace

class tst_OvImageWriter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void writes_data();
    void writes();
    void linkAtOutputWritesTheLinkedPhoto();
    void clearsOnlyItsOwnLeftovers_data();
    void clearsOnlyItsOwnLeftovers();
    void carriesMetadataOverWithOrientationReset_data();
    void carriesMetadataOverWithOrientationReset();
    void reportsErrors_data();
    void reportsErrors();
    void fullDiskKeepsTheOriginal();
    void misbehavingHelper_data();
    void misbehavingHelper();
    void readOnlyOriginalIsKept();

private:
    QString m_source; // a JPEG with EXIF, turned by orientation 6
    QTemporaryDir m_dir;
};

void tst_OvImageWriter::initTestCase()
{
    OV_SKIP_WITHOUT_WINDOWS_EXIFTOOL();
    QVERIFY(m_dir.isValid());
    m_source = m_dir.filePath(QStringLiteral("source.jpg"));
    QVERIFY(TestHelpers::writeRgbImage(m_source, TestHelpers::makePattern(32, 24, CV_8U, 3)));
    QVERIFY(TestHelpers::runExifTool({QStringLiteral("-n"), QStringLiteral("-Orientation=6"),
                                      QStringLiteral("-Make=Orvane Test"), QStringLiteral("-XMP:Rating=4")}, m_source));
}

void tst_OvImageWriter::writes_data()
{
    QTest::addColumn<QString>("extension");
    QTest::addColumn<int>("depth"); // CV_32F: the 16-bit pattern scaled to [0, 1]
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("expectedType");

    for (const char *extension : {"png", "tif", "tiff"}) {
        for (int depth : {CV_8U, CV_16U}) {
            for (int channels : {1, 3, 4}) {
                QTest::addRow("%s, depth %d, %d channels", extension, depth, channels)
                    << QString::fromLatin1(extension) << depth << channels << CV_MAKETYPE(depth, channels);
            }
        }
    }
    QTest::newRow("float to png keeps 16 bits") << "png" << CV_32F << 3 << CV_16UC3;
    QTest::newRow("float to tiff keeps 16 bits") << "tiff" << CV_32F << 4 << CV_16UC4;
    QTest::newRow("float to jpeg") << "jpg" << CV_32F << 3 << CV_8UC3;
    QTest::newRow("16-bit to jpeg") << "jpeg" << CV_16U << 3 << CV_8UC3;
    QTest::newRow("16-bit with alpha to jpeg drops alpha") << "jpg" << CV_16U << 4 << CV_8UC3;
    QTest::newRow("8-bit with alpha to bmp drops alpha") << "bmp" << CV_8U << 4 << CV_8UC3;
    QTest::newRow("16-bit with alpha to webp") << "webp" << CV_16U << 4 << CV_8UC4;
}

void tst_OvImageWriter::writes()
{
    QFETCH(QString, extension);
    QFETCH(int, depth);
    QFETCH(int, channels);
    QFETCH(int, expectedType);

    // Only the cropped region is written.
    const cv::Mat full = TestHelpers::makePattern(80, 56, depth == CV_8U ? CV_8U : CV_16U, channels);
    const cv::Mat pattern = full(cv::Rect(20, 28, 40, 28));
    cv::Mat image = full;
    if (depth == CV_32F)
        full.convertTo(image, CV_32F, 1.0 / 65535.0);
    const auto data = std::make_shared<ImageData>(image, cv::Mat());
    data->crop(QRectF(0.25, 0.5, 0.5, 0.5));
    QTemporaryDir folder;
    const QString output = folder.filePath(QStringLiteral("result.") + extension);
    OvImageWriter writer;
    SaveRecorder recorder(writer);
    writer.saveImage(data, QString(), output, QVariantMap(), QVariantMap());

    QCOMPARE(recorder.failed.size(), 0);
    QCOMPARE(recorder.saved.size(), 1);
    QCOMPARE(recorder.saved.first().at(0).toString(), output);
    QCOMPARE(recorder.progress.last(), (QVariantList{output, 1.0f}));

    // Lossy formats blur the checkerboard, but stay far closer to the pattern than to the
    // pattern with red and blue swapped.
    const cv::Mat written = readBack(output);
    QCOMPARE(written.type(), expectedType);
    const double samples = double(written.total() * written.channels());
    const double mean = cv::norm(written, asStored(pattern, expectedType, false), cv::NORM_L1) / samples;
    const double swapped = cv::norm(written, asStored(pattern, expectedType, true), cv::NORM_L1) / samples;
    if (QStringList{"jpg", "jpeg", "webp"}.contains(extension))
        QVERIFY2(mean < 16 && mean * 3 < swapped, qPrintable(QStringLiteral("%1 vs %2").arg(mean).arg(swapped)));
    else
        QCOMPARE(mean, 0.0);
}

// A link at the output is the user's shortcut to the photo: the photo is the file replaced.
void tst_OvImageWriter::linkAtOutputWritesTheLinkedPhoto()
{
    QTemporaryDir folder;
    const QString photo = folder.filePath(QStringLiteral("photo.png"));
    const QString link = folder.filePath(QStringLiteral("shortcut.png"));
    QVERIFY(TestHelpers::writeRgbImage(photo, TestHelpers::makePattern(8, 8, CV_8U, 3)));
    QVERIFY(QFile::link(photo, link));
    const cv::Mat pattern = TestHelpers::makePattern(20, 10, CV_8U, 4);
    OvImageWriter writer;
    SaveRecorder recorder(writer);
    writer.saveImage(std::make_shared<ImageData>(pattern, cv::Mat()), QString(), link, QVariantMap(), QVariantMap());
    QCOMPARE(recorder.saved.size(), 1);
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(cv::norm(readBack(photo), asStored(pattern, CV_8UC4, false), cv::NORM_INF), 0.0);
}

// A completed save clears the temporaries of earlier killed saves of the same photo, and no
// other file: not one that is still being written, nor one of another photo or format.
void tst_OvImageWriter::clearsOnlyItsOwnLeftovers_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("older");
    QTest::addColumn<bool>("kept");
    QTest::newRow("a killed save's temporary") << ".photo.a1B2c3.png" << true << false;
    QTest::newRow("one still being written") << ".photo.a1B2c3.png" << false << true;
    QTest::newRow("another photo's") << ".other.a1B2c3.png" << true << true;
    QTest::newRow("another format's") << ".photo.a1B2c3.jpg" << true << true;
    QTest::newRow("not a temporary's name") << ".photo.a1B2c.png" << true << true;
    QTest::newRow("the user's own file") << "photo.a1B2c3.png" << true << true;
}

void tst_OvImageWriter::clearsOnlyItsOwnLeftovers()
{
    QFETCH(QString, name);
    QFETCH(bool, older);
    QFETCH(bool, kept);
    QTemporaryDir folder;
    QFile leftover(folder.filePath(name));
    QVERIFY(leftover.open(QIODevice::WriteOnly));
    const QDateTime now = QDateTime::currentDateTime();
    QVERIFY(leftover.setFileTime(older ? now.addSecs(-3600) : now.addSecs(3600), QFileDevice::FileModificationTime));
    leftover.close();
    OvImageWriter writer;
    SaveRecorder recorder(writer);
    const cv::Mat pattern = TestHelpers::makePattern(8, 8, CV_8U, 3);
    writer.saveImage(std::make_shared<ImageData>(pattern, cv::Mat()), QString(), folder.filePath("photo.png"),
                     QVariantMap(), QVariantMap());
    QCOMPARE(recorder.saved.size(), 1);
    QCOMPARE(QFile::exists(leftover.fileName()), kept);
}

void tst_OvImageWriter::carriesMetadataOverWithOrientationReset_data()
{
    QTest::addColumn<QString>("extension");
    QTest::addColumn<bool>("exifTool"); // without it the pixels are still saved, with no tags
    QTest::newRow("jpeg") << "jpg" << true;
    QTest::newRow("png") << "png" << true;
    QTest::newRow("png without ExifTool") << "png" << false;
}

void tst_OvImageWriter::carriesMetadataOverWithOrientationReset()
{
    QFETCH(QString, extension);
    QFETCH(bool, exifTool);
    QTemporaryDir folder;
    const QString output = folder.filePath(QStringLiteral("with-metadata.") + extension);
    const QByteArray path = qgetenv("PATH");
    if (!exifTool) {
        qputenv("PATH", QFile::encodeName(folder.filePath(QStringLiteral("no-bin"))));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("ExifTool is not available")));
    }
    OvImageWriter writer;
    SaveRecorder recorder(writer);
    writer.saveImage(std::make_shared<ImageData>(TestHelpers::makePattern(24, 32, CV_8U, 3), cv::Mat()), m_source,
                     output, QVariantMap(), QVariantMap());
    qputenv("PATH", path);
    QCOMPARE(recorder.saved.size(), 1);

    const QMap<QString, QString> tags = TestHelpers::exifToolValues(
        output, {QStringLiteral("Make"), QStringLiteral("Rating"), QStringLiteral("Orientation")});
    const QMap<QString, QString> expected{{"Make", "Orvane Test"}, {"Rating", "4"}, {"Orientation", "1"}};
    QCOMPARE(tags, exifTool ? expected : decltype(expected)());
    // The pixels are the ones handed over, at their own size.
    QCOMPARE(readBack(output).cols, 24);
    QCOMPARE(entries(folder.path()), QStringList{QFileInfo(output).fileName()});
}

void tst_OvImageWriter::reportsErrors_data()
{
    QTest::addColumn<QString>("relativeOutput");
    QTest::addColumn<int>("image"); // 0 none, 1 without pixels, 2 a picture
    QTest::addColumn<QString>("reason");

    QTest::newRow("folder is a file") << "plain.txt/result.png" << 2 << "folder";
    QTest::newRow("unknown extension") << "result.xyz" << 2 << "not supported";
    QTest::newRow("empty image") << "empty.png" << 1 << "empty";
    QTest::newRow("no image") << "none.png" << 0 << "empty";
}

void tst_OvImageWriter::reportsErrors()
{
    QFETCH(QString, relativeOutput);
    QFETCH(int, image);
    QFETCH(QString, reason);

    QTemporaryDir folder;
    QVERIFY(QFile(folder.filePath(QStringLiteral("plain.txt"))).open(QIODevice::WriteOnly));
    const QString output = folder.filePath(relativeOutput);
    std::shared_ptr<ImageData> data;
    if (image)
        data = std::make_shared<ImageData>(image == 2 ? TestHelpers::makePattern(8, 8, CV_8U, 3) : cv::Mat(), cv::Mat());

    OvImageWriter writer;
    SaveRecorder recorder(writer);
    writer.saveImage(data, m_source, output, QVariantMap(), QVariantMap());
    QCOMPARE(recorder.saved.size(), 0);
    QCOMPARE(recorder.failed.size(), 1);
    QCOMPARE(recorder.failed.first().at(0).toString(), output);
    const QString message = recorder.failed.first().at(1).toString();
    QVERIFY2(message.contains(QFileInfo(output).fileName()) && message.contains(reason), qPrintable(message));
    QCOMPARE(entries(folder.path()), QStringList{QStringLiteral("plain.txt")});
}

// The encoded image fits on the nearly full disk, ExifTool's copy with the metadata does not: the
// save must fail and leave the photo as it was, not replace it with a copy stripped of its tags.
void tst_OvImageWriter::fullDiskKeepsTheOriginal()
{
#ifndef Q_OS_LINUX
    QSKIP("A small full disk is made here by mounting a Linux tmpfs");
#else
    QTemporaryDir mountPoint;
    const QByteArray where = QFile::encodeName(mountPoint.path());
    if (::mount("tmpfs", where.constData(), "tmpfs", 0, "size=1m") != 0)
        QSKIP("Cannot mount a small tmpfs here");
    const auto unmount = qScopeGuard([&] { ::umount2(where.constData(), MNT_DETACH); });
    const QString photo = mountPoint.filePath(QStringLiteral("photo.jpg"));
    QVERIFY(QFile::copy(m_source, photo));
    QVERIFY(TestHelpers::runExifTool({QStringLiteral("-UserComment=") + QString(60000, QLatin1Char('c'))}, photo));
    const auto contents = [](const QString &path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const QByteArray before = contents(photo);

    QFile filler(mountPoint.filePath(QStringLiteral("filler")));
    QVERIFY(filler.open(QIODevice::WriteOnly));
    const QByteArray block(4096, 'f');
    for (qint64 left = QStorageInfo(mountPoint.path()).bytesAvailable() - 16384; left > 0; left -= block.size())
        QCOMPARE(filler.write(block), qint64(block.size()));
    QVERIFY(filler.flush());

    OvImageWriter writer;
    SaveRecorder recorder(writer);
    writer.saveImage(std::make_shared<ImageData>(TestHelpers::makePattern(16, 16, CV_8U, 3), cv::Mat()), photo, photo,
                     QVariantMap(), QVariantMap());
    QCOMPARE(recorder.saved.size(), 0);
    QCOMPARE(recorder.failed.size(), 1);
    const QString message = recorder.failed.first().at(1).toString();
    QVERIFY2(message.contains(QLatin1String("no space left on device")), qPrintable(message));
    QCOMPARE(contents(photo), before);
    QCOMPARE(entries(mountPoint.path()), QStringList({"filler", "photo.jpg"}));
#endif
}

void tst_OvImageWriter::misbehavingHelper_data()
{
    QTest::addColumn<QByteArray>("body"); // the shell that answers to the name exiftool
    QTest::addColumn<bool>("saved"); // otherwise errorSaving, with the original as it was
    QTest::addColumn<int>("boundMs");

    // Faults: the copy's output buffered without limit until the allocation fails and the process
    // aborts, leaving its temporary file; a hung copy held for 120 s, as long as the caller's own
    // wait, so that a late success is reported as a failure.
    QTest::newRow("writes without end") << QByteArray("exec cat /dev/zero") << false << 8000;
    QTest::newRow("writes errors without end") << QByteArray("exec cat /dev/zero >&2") << false << 8000;
    QTest::newRow("exits at once, status 0") << QByteArray("exit 0") << true << 5000;
    QTest::newRow("exits at once, status 1") << QByteArray("exit 1") << false << 5000;
    QTest::newRow("exits at once, status 3") << QByteArray("exit 3") << false << 5000;
    QTest::newRow("never finishes") << QByteArray("exec sleep 600") << false << 40000;
}

// Exactly one outcome per save, within a bound, in memory that stays bounded; the photo is the
// old one or the whole new one, and nothing is left beside it.
void tst_OvImageWriter::misbehavingHelper()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, saved);
    QFETCH(int, boundMs);
    QTemporaryDir bin;
    if (!TestHelpers::writeStandInExifTool(bin.path(), body))
        QSKIP("The stand-in helpers are shell scripts, which Windows does not start as exiftool");
    QTemporaryDir folder;
    const QString photo = folder.filePath(QStringLiteral("photo.jpg"));
    QVERIFY(QFile::copy(m_source, photo));
    const auto contents = [](const QString &path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const QByteArray before = contents(photo);

    const QByteArray savedPath = TestHelpers::prependToPath(bin.path());
    OvImageWriter writer;
    SaveRecorder recorder(writer);
    QElapsedTimer clock;
    clock.start();
    writer.saveImage(std::make_shared<ImageData>(TestHelpers::makePattern(40, 30, CV_8U, 3), cv::Mat()), photo, photo,
                     QVariantMap(), QVariantMap());
    const qint64 elapsed = clock.elapsed();
    qputenv("PATH", savedPath);
    qInfo() << "ended in" << elapsed << "ms, peak memory" << TestHelpers::peakMemoryBytes() / (1 << 20) << "MiB";

    QVERIFY2(elapsed < boundMs, qPrintable(QString::number(elapsed)));
    QCOMPARE(recorder.saved.size() + recorder.failed.size(), 1);
    QCOMPARE(recorder.saved.size(), saved ? 1 : 0);
    if (saved)
        QCOMPARE(readBack(photo).cols, 40);
    else
        QCOMPARE(contents(photo), before);
    QCOMPARE(entries(folder.path()), QStringList{QStringLiteral("photo.jpg")});
    const qint64 peak = TestHelpers::peakMemoryBytes();
    QVERIFY2(peak < 0 || peak < 1024LL * 1024 * 1024, qPrintable(QString::number(peak)));
}

// A photo the user made read-only must not change, although root, or the owner of the folder, can
// rename over it. Fault: the rename replaced it with the new content, keeping its mode 0444.
void tst_OvImageWriter::readOnlyOriginalIsKept()
{
    QTemporaryDir folder;
    const QString photo = folder.filePath(QStringLiteral("protected.jpg"));
    QVERIFY(QFile::copy(m_source, photo));
    QVERIFY(QFile::setPermissions(photo, QFile::ReadOwner | QFile::ReadUser | QFile::ReadGroup | QFile::ReadOther));
    QFile original(photo);
    QVERIFY(original.open(QIODevice::ReadOnly));
    const QByteArray before = original.readAll();
    original.close();

    OvImageWriter writer;
    SaveRecorder recorder(writer);
    writer.saveImage(std::make_shared<ImageData>(TestHelpers::makePattern(40, 30, CV_8U, 3), cv::Mat()), m_source,
                     photo, QVariantMap(), QVariantMap());
    QCOMPARE(recorder.saved.size(), 0);
    QCOMPARE(recorder.failed.size(), 1);
    const QString message = recorder.failed.first().at(1).toString();
    QVERIFY2(message.contains(QLatin1String("protected.jpg")) && message.contains(QLatin1String("read-only")),
             qPrintable(message));
    QVERIFY(original.open(QIODevice::ReadOnly));
    QCOMPARE(original.readAll(), before);
    QCOMPARE(entries(folder.path()), QStringList{QStringLiteral("protected.jpg")});
    QFile::setPermissions(photo, QFile::ReadOwner | QFile::WriteOwner);
}

QTEST_GUILESS_MAIN(tst_OvImageWriter)
#include "tst_ovimagewriter.moc"
