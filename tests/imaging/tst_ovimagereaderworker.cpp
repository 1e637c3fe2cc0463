#include "imaging/ImageData.h"
#include "imaging/OvImageReaderWorker.h"

#include "TestHelpers.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/core.hpp>

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

QTEST_GUILESS_MAIN(tst_OvImageReaderWorker)
#include "tst_ovimagereaderworker.moc"
