#include "imaging/ImageData.h"
#include "imaging/OvImageReaderWorker.h"

#include "TestHelpers.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <memory>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

std::shared_ptr<ImageData> imageOf(const QSignalSpy &loaded)
{
    return loaded.first().first().toMap().value(QStringLiteral("image")).value<std::shared_ptr<ImageData>>();
}

} // namespace

class tst_OvImageReaderWorker : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void decodes_data();
    void decodes();
    void turnsUprightByExifOrientation_data();
    void turnsUprightByExifOrientation();
    void reportsErrors_data();
    void reportsErrors();
    void refusesCutOffImages_data();
    void refusesCutOffImages();

private:
    QTemporaryDir m_dir;
};

void tst_OvImageReaderWorker::initTestCase()
{
    OV_SKIP_WITHOUT_WINDOWS_EXIFTOOL();
    QVERIFY(m_dir.isValid());
    QList<QStringList> commands;
    for (int orientation = 1; orientation <= 8; ++orientation) {
        const QString path = m_dir.filePath(QStringLiteral("oriented-%1.jpg").arg(orientation));
        QVERIFY(TestHelpers::writeRgbImage(path, TestHelpers::quadrants(64, 32)));
        commands << QStringList{QStringLiteral("-n"), QStringLiteral("-Orientation=%1").arg(orientation), path};
    }
    QVERIFY(TestHelpers::runExifToolBatch(commands));
}

void tst_OvImageReaderWorker::decodes_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<int>("depth");
    QTest::addColumn<int>("channels");

    QTest::newRow("png 8-bit gray") << "gray8.png" << CV_8U << 1;
    QTest::newRow("png 16-bit rgba") << "rgba16.png" << CV_16U << 4;
    QTest::newRow("tif 8-bit rgba") << "rgba8.tif" << CV_8U << 4;
    QTest::newRow("tiff 16-bit gray") << "gray16.tiff" << CV_16U << 1;
    QTest::newRow("tiff 16-bit rgb") << "rgb16.tiff" << CV_16U << 3;
    QTest::newRow("webp lossless rgba") << "rgba8.webp" << CV_8U << 4;
}

void tst_OvImageReaderWorker::decodes()
{
    QFETCH(QString, fileName);
    QFETCH(int, depth);
    QFETCH(int, channels);

    const QString path = m_dir.filePath(fileName);
    const cv::Mat pattern = TestHelpers::makePattern(48, 32, depth, channels);
    QVERIFY(TestHelpers::writeRgbImage(path, pattern));
    const QVariantMap metadata{{QStringLiteral("EXIF:Make"), QStringLiteral("Test camera")}};

    OvImageReaderWorker reader;
    QSignalSpy loaded(&reader, &OvImageReaderWorker::imageLoaded);
    QSignalSpy failed(&reader, &OvImageReaderWorker::error);
    reader.loadImage(path, metadata, QVariantMap());

    QCOMPARE(failed.size(), 0);
    QCOMPARE(loaded.size(), 1);
    const QVariantMap description = loaded.first().first().toMap();
    QCOMPARE(description.value(QStringLiteral("filepath")).toString(), path);
    QCOMPARE(description.value(QStringLiteral("metadata")).toMap(), metadata);

    const cv::Mat pixels = imageOf(loaded)->mat();
    QCOMPARE(pixels.type(), pattern.type());
    QCOMPARE(pixels.size(), pattern.size());
    // The pattern's channels differ from one another, so a missing R/B swap shows here.
    QCOMPARE(cv::norm(pixels, pattern, cv::NORM_INF), 0.0);
}

void tst_OvImageReaderWorker::turnsUprightByExifOrientation_data()
{
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QString>("corners"); // top-left, top-right, bottom-left, bottom-right

    QTest::newRow("1 upright") << 1 << "RGBW";
    QTest::newRow("2 mirrored") << 2 << "GRWB";
    QTest::newRow("3 rotated 180") << 3 << "WBGR";
    QTest::newRow("4 flipped") << 4 << "BWRG";
    QTest::newRow("5 transposed") << 5 << "RBGW";
    QTest::newRow("6 rotated 90 clockwise") << 6 << "BRWG";
    QTest::newRow("7 transverse") << 7 << "WGBR";
    QTest::newRow("8 rotated 90 counter-clockwise") << 8 << "GWRB";
}

void tst_OvImageReaderWorker::turnsUprightByExifOrientation()
{
    QFETCH(int, orientation);
    QFETCH(QString, corners);

    // The file carries the tag too (initTestCase): the decoder must not turn it a second time.
    const QString path = m_dir.filePath(QStringLiteral("oriented-%1.jpg").arg(orientation));
    const QVariantMap metadata{{QStringLiteral("EXIF:Orientation"), double(orientation)}};

    OvImageReaderWorker reader;
    QSignalSpy loaded(&reader, &OvImageReaderWorker::imageLoaded);
    reader.loadImage(path, metadata, QVariantMap());
    QCOMPARE(loaded.size(), 1);
    // The four corners differ, so each of the eight turns and flips has its own answer.
    QCOMPARE(TestHelpers::quadrantCorners(imageOf(loaded)->mat(), false), corners);
}

void tst_OvImageReaderWorker::reportsErrors_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("content"); // empty: the file is not created
    QTest::addColumn<QString>("reason");

    QTest::newRow("missing file") << "absent.png" << QByteArray() << "does not exist";
    QTest::newRow("raw format") << "IMG_1.cr2" << QByteArray("II*\0", 4) << "not supported";
    QTest::newRow("garbage png") << "garbage.png" << QByteArray(200, 'x') << "corrupt";
    // Reading a FIFO would block the reader; a loop never resolves: neither "does not exist".
    QTest::newRow("fifo") << "pipe.png" << QByteArray("@fifo") << "not a regular file";
    QTest::newRow("symlink loop") << "loop.png" << QByteArray("@loop") << "symbolic links";
}

void tst_OvImageReaderWorker::reportsErrors()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);

    const QString path = m_dir.filePath(fileName);
#ifndef Q_OS_UNIX
    // QFile::link makes a shortcut on Windows, and a FIFO has no place in its file system.
    if (content.startsWith('@'))
        QSKIP("FIFOs and symbolic link loops are POSIX cases");
#else
    if (content == "@fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    if (content == "@loop")
        QVERIFY(QFile::link(path, path));
#endif
    if (!content.isEmpty() && !content.startsWith('@')) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    OvImageReaderWorker reader;
    QSignalSpy loaded(&reader, &OvImageReaderWorker::imageLoaded);
    QSignalSpy failed(&reader, &OvImageReaderWorker::error);
    reader.loadImage(path, QVariantMap(), QVariantMap());

    QCOMPARE(loaded.size(), 0);
    QCOMPARE(failed.size(), 1);
    const QString message = failed.first().first().toString();
    QVERIFY2(message.contains(fileName), qPrintable(message));
    QVERIFY2(message.contains(reason), qPrintable(message));
}

void tst_OvImageReaderWorker::refusesCutOffImages_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("progressive");
    QTest::addColumn<int>("keep"); // bytes cut off the end when positive, appended when negative
    QTest::addColumn<bool>("loads");

    // Fault: the JPEG decoder only warns about the missing rows and fills them with grey, so the
    // half photo was shown and could be saved back over the whole one.
    QTest::newRow("jpeg cut in half") << "half.jpg" << false << 0 << false;
    QTest::newRow("progressive jpeg cut in half") << "half-progressive.jpg" << true << 0 << false;
    QTest::newRow("jpeg without its end marker") << "no-end.jpg" << false << 2 << false;
    QTest::newRow("png cut in half") << "half.png" << false << 0 << false;
    QTest::newRow("tiff cut in half") << "half.tif" << false << 0 << false;
    // Fault of a check too strict: cameras and editors append data after the image's end.
    QTest::newRow("jpeg with data after its end") << "trailer.jpg" << false << -64 << true;
}

// `keep` 0 keeps the first half of the file.
void tst_OvImageReaderWorker::refusesCutOffImages()
{
    QFETCH(QString, fileName);
    QFETCH(bool, progressive);
    QFETCH(int, keep);
    QFETCH(bool, loads);

    const QString path = m_dir.filePath(fileName);
    const std::vector<int> params{cv::IMWRITE_JPEG_PROGRESSIVE, progressive ? 1 : 0};
    QVERIFY(cv::imwrite(QFile::encodeName(path).toStdString(), TestHelpers::makePattern(256, 192, CV_8U, 3), params));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    const qint64 size = file.size();
    if (keep < 0)
        QVERIFY(file.seek(size) && file.write(QByteArray(-keep, 'z')) == -keep);
    else
        QVERIFY(file.resize(keep == 0 ? size / 2 : size - keep));
    file.close();

    OvImageReaderWorker reader;
    QSignalSpy loaded(&reader, &OvImageReaderWorker::imageLoaded);
    QSignalSpy failed(&reader, &OvImageReaderWorker::error);
    reader.loadImage(path, QVariantMap(), QVariantMap());
    QCOMPARE(loaded.size(), loads ? 1 : 0);
    QCOMPARE(failed.size(), loads ? 0 : 1);
    if (!loads)
        QVERIFY2(failed.first().first().toString().contains(fileName), qPrintable(failed.first().first().toString()));
}

QTEST_GUILESS_MAIN(tst_OvImageReaderWorker)
#include "tst_ovimagereaderworker.moc"
