#include "imaging/ImageData.h"
#include "imaging/OvImageReaderWorker.h"

#include "TestHelpers.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

#include <memory>

#include <sys/stat.h>

namespace {

std::shared_ptr<ImageData> imageOf(const QSignalSpy &loaded)
{
    return loaded.first().first().toMap().value(QStringLiteral("image")).value<std::shared_ptr<ImageData>>();
}

} // namespace

class TestOvImageReaderWorker : public QObject
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
    void worksOnItsOwnThread();

private:
    QTemporaryDir m_dir;
};

void TestOvImageReaderWorker::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QList<QStringList> commands;
    for (int orientation = 1; orientation <= 8; ++orientation) {
        const QString path = m_dir.filePath(QStringLiteral("oriented-%1.jpg").arg(orientation));
        QVERIFY(TestHelpers::writeRgbImage(path, TestHelpers::quadrants(64, 32)));
        commands << QStringList{QStringLiteral("-n"), QStringLiteral("-Orientation=%1").arg(orientation), path};
    }
    QVERIFY(TestHelpers::runExifToolBatch(commands));
    QCOMPARE(TestHelpers::exifToolValue(m_dir.filePath(QStringLiteral("oriented-6.jpg")),
                                        QStringLiteral("Orientation")),
             QStringLiteral("6"));
}

void TestOvImageReaderWorker::decodes_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<int>("depth");
    QTest::addColumn<int>("channels");
    QTest::addColumn<bool>("lossless");

    QTest::newRow("png 8-bit gray") << "gray8.png" << CV_8U << 1 << true;
    QTest::newRow("png 8-bit rgb") << "rgb8.png" << CV_8U << 3 << true;
    QTest::newRow("png 8-bit rgba") << "rgba8.png" << CV_8U << 4 << true;
    QTest::newRow("png 16-bit rgb") << "rgb16.png" << CV_16U << 3 << true;
    QTest::newRow("png 16-bit rgba") << "rgba16.png" << CV_16U << 4 << true;
    QTest::newRow("tiff 8-bit rgb") << "rgb8.tiff" << CV_8U << 3 << true;
    QTest::newRow("tif 8-bit rgba") << "rgba8.tif" << CV_8U << 4 << true;
    QTest::newRow("tiff 16-bit gray") << "gray16.tiff" << CV_16U << 1 << true;
    QTest::newRow("tiff 16-bit rgb") << "rgb16.tiff" << CV_16U << 3 << true;
    QTest::newRow("tif 16-bit rgba") << "rgba16.tif" << CV_16U << 4 << true;
    QTest::newRow("bmp") << "rgb8.bmp" << CV_8U << 3 << true;
    QTest::newRow("webp lossless rgba") << "rgba8.webp" << CV_8U << 4 << true;
    QTest::newRow("jpeg") << "rgb8.jpg" << CV_8U << 3 << false;
}

void TestOvImageReaderWorker::decodes()
{
    QFETCH(QString, fileName);
    QFETCH(int, depth);
    QFETCH(int, channels);
    QFETCH(bool, lossless);

    const QString path = m_dir.filePath(fileName);
    const cv::Mat pattern = TestHelpers::makePattern(48, 32, depth, channels);
    QVERIFY(TestHelpers::writeRgbImage(path, pattern));
    const QVariantMap metadata{{QStringLiteral("EXIF:Make"), QStringLiteral("Test camera")}};

    OvImageReaderWorker reader;
    QSignalSpy loaded(&reader, &OvImageReaderWorker::imageLoaded);
    QSignalSpy failed(&reader, &OvImageReaderWorker::error);
    QSignalSpy status(&reader, &OvImageReaderWorker::statusChanged);
    reader.loadImage(path, metadata, QVariantMap());

    QCOMPARE(failed.size(), 0);
    QCOMPARE(loaded.size(), 1);
    QVERIFY(!status.isEmpty());
    const QVariantMap description = loaded.first().first().toMap();
    QCOMPARE(description.value(QStringLiteral("filepath")).toString(), path);
    QCOMPARE(description.value(QStringLiteral("metadata")).toMap(), metadata);

    const auto image = imageOf(loaded);
    QVERIFY(image);
    const cv::Mat pixels = image->mat();
    QCOMPARE(pixels.depth(), depth);
    QCOMPARE(pixels.channels(), channels);
    QCOMPARE(image->size(), QSize(48, 32));
    QCOMPARE(image->fullSize(), QSize(48, 32));
    // The pattern's channels differ from one another, so a missing R/B swap shows here.
    if (lossless) {
        QCOMPARE(cv::norm(pixels, pattern, cv::NORM_INF), 0.0);
    } else {
        // JPEG blurs the checkerboard's edges, but stays far closer to the pattern than to the
        // pattern with red and blue swapped.
        cv::Mat swapped(pattern.size(), pattern.type());
        const int fromTo[] = {0, 2, 1, 1, 2, 0};
        cv::mixChannels(&pattern, 1, &swapped, 1, fromTo, 3);
        const double mean = cv::norm(pixels, pattern, cv::NORM_L1) / double(pixels.total() * channels);
        const double meanSwapped = cv::norm(pixels, swapped, cv::NORM_L1) / double(pixels.total() * channels);
        QVERIFY2(mean < 16 && mean * 4 < meanSwapped,
                 qPrintable(QStringLiteral("%1 vs %2").arg(mean).arg(meanSwapped)));
    }
}

void TestOvImageReaderWorker::turnsUprightByExifOrientation_data()
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

void TestOvImageReaderWorker::turnsUprightByExifOrientation()
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
    const cv::Mat upright = imageOf(loaded)->mat();

    const bool sideways = orientation >= 5;
    QCOMPARE(upright.cols, sideways ? 32 : 64);
    QCOMPARE(upright.rows, sideways ? 64 : 32);
    QCOMPARE(TestHelpers::quadrantCorners(upright, false), corners);
}

void TestOvImageReaderWorker::reportsErrors_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("content"); // empty: the file is not created
    QTest::addColumn<QString>("reason");

    QByteArray truncatedPng;
    {
        std::vector<uchar> png;
        cv::imencode(".png", TestHelpers::makePattern(32, 32, CV_8U, 3), png);
        truncatedPng = QByteArray(reinterpret_cast<const char *>(png.data()), int(png.size()) / 3);
    }
    QTest::newRow("missing file") << "absent.png" << QByteArray() << "does not exist";
    QTest::newRow("unsupported extension") << "picture.xyz" << QByteArray("whatever") << "not supported";
    QTest::newRow("raw format") << "IMG_1.cr2" << QByteArray("II*\0", 4) << "not supported";
    QTest::newRow("garbage png") << "garbage.png" << QByteArray(200, 'x') << "corrupt";
    QTest::newRow("truncated png") << "truncated.png" << truncatedPng << "corrupt";
    QTest::newRow("text as jpeg") << "letter.jpg" << QByteArray("Dear reader,\n") << "corrupt";
    // Reading a FIFO would block the reader; a loop never resolves: neither "does not exist".
    QTest::newRow("fifo") << "pipe.png" << QByteArray("@fifo") << "not a regular file";
    QTest::newRow("symlink loop") << "loop.png" << QByteArray("@loop") << "symbolic links";
}

void TestOvImageReaderWorker::reportsErrors()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);

    const QString path = m_dir.filePath(fileName);
    if (content == "@fifo") {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (content == "@loop") {
        QVERIFY(QFile::link(path, path));
    } else if (!content.isEmpty()) {
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

void TestOvImageReaderWorker::worksOnItsOwnThread()
{
    const QString path = m_dir.filePath(QStringLiteral("threaded.png"));
    QVERIFY(TestHelpers::writeRgbImage(path, TestHelpers::makePattern(40, 30, CV_16U, 4)));

    QThread thread;
    auto *reader = new OvImageReaderWorker;
    reader->moveToThread(&thread);
    connect(&thread, &QThread::finished, reader, &QObject::deleteLater);
    thread.start();

    // The spy lives here; the reader's signals reach it queued, as they reach the application.
    QObject receiver;
    QList<QVariantMap> descriptions;
    QStringList errors;
    connect(reader, &OvImageReaderWorker::imageLoaded, &receiver,
            [&](const QVariantMap &d) { descriptions << d; }, Qt::QueuedConnection);
    connect(reader, &OvImageReaderWorker::error, &receiver,
            [&](const QString &e) { errors << e; }, Qt::QueuedConnection);

    QMetaObject::invokeMethod(reader, "loadImage", Qt::QueuedConnection, Q_ARG(QString, path),
                              Q_ARG(QVariantMap, QVariantMap()), Q_ARG(QVariantMap, QVariantMap()));
    QTRY_COMPARE(descriptions.size(), 1);
    QVERIFY(errors.isEmpty());
    const auto image = descriptions.first().value(QStringLiteral("image")).value<std::shared_ptr<ImageData>>();
    QVERIFY(image);
    QCOMPARE(image->size(), QSize(40, 30));
    QCOMPARE(image->mat().type(), CV_16UC4);

    thread.quit();
    QVERIFY(thread.wait(5000));
}

QTEST_GUILESS_MAIN(TestOvImageReaderWorker)
#include "tst_ovimagereaderworker.moc"
