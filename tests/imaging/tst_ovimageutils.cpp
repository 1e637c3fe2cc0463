#include "imaging/ImageData.h"
#include "imaging/OvImageReaderWorker.h"
#include "imaging/OvImageUtils.h"

#include "TestHelpers.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

#include <memory>
#include <vector>

class TestOvImageUtils : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void supportedFormatsAreLowerCaseAndComplete();
    void everySupportedFormatDecodes();
    void imageSize_data();
    void imageSize();
    void imageSizeOfUnreadableFiles_data();
    void imageSizeOfUnreadableFiles();
    void getExtension_data();
    void getExtension();
    void getExportExtension_data();
    void getExportExtension();
    void shouldGenerateThumbnail_data();
    void shouldGenerateThumbnail();

private:
    QTemporaryDir m_dir;
};

void TestOvImageUtils::supportedFormatsAreLowerCaseAndComplete()
{
    const QStringList formats = OvImageUtils::supportedFileFormats();
    for (const QString &format : formats)
        QCOMPARE(format, format.toLower());
    for (const char *required : {"jpg", "jpeg", "png", "tif", "tiff", "webp", "bmp"})
        QVERIFY2(formats.contains(QLatin1String(required)), required);
}

void TestOvImageUtils::everySupportedFormatDecodes()
{
    const cv::Mat pattern = TestHelpers::makePattern(24, 16, CV_8U, 3);
    OvImageReaderWorker reader;
    QSignalSpy loaded(&reader, &OvImageReaderWorker::imageLoaded);
    QSignalSpy failed(&reader, &OvImageReaderWorker::error);
    for (const QString &format : OvImageUtils::supportedFileFormats()) {
        const QString path = m_dir.filePath(QStringLiteral("decodes.") + format);
        QVERIFY2(TestHelpers::writeRgbImage(path, pattern), qPrintable(format));
        loaded.clear();
        reader.loadImage(path, QVariantMap(), QVariantMap());
        QVERIFY2(failed.isEmpty(), qPrintable(format));
        QCOMPARE(loaded.size(), 1);
        const auto image = loaded.first().first().toMap().value(QStringLiteral("image"))
                               .value<std::shared_ptr<ImageData>>();
        QVERIFY(image);
        QCOMPARE(image->size(), QSize(24, 16));
    }
}

void TestOvImageUtils::imageSize_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<int>("depth");
    QTest::addColumn<int>("channels");
    QTest::addColumn<QVector<int>>("params");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QSize>("expected");

    const QSize stored(37, 23);
    QTest::newRow("png") << "size.png" << CV_8U << 3 << QVector<int>() << 0 << stored;
    QTest::newRow("png 16-bit alpha") << "size16.png" << CV_16U << 4 << QVector<int>() << 0 << stored;
    QTest::newRow("jpeg") << "size.jpg" << CV_8U << 3 << QVector<int>() << 0 << stored;
    QTest::newRow("jpeg turned by EXIF") << "turned.jpeg" << CV_8U << 3 << QVector<int>() << 6 << stored.transposed();
    QTest::newRow("bmp") << "size.bmp" << CV_8U << 3 << QVector<int>() << 0 << stored;
    QTest::newRow("tif") << "size.tif" << CV_8U << 3 << QVector<int>() << 0 << stored;
    QTest::newRow("tiff 16-bit gray") << "size.tiff" << CV_16U << 1 << QVector<int>() << 0 << stored;
    QTest::newRow("tiff turned by EXIF") << "turned.tiff" << CV_16U << 3 << QVector<int>() << 8 << stored.transposed();
    QTest::newRow("webp lossless") << "lossless.webp" << CV_8U << 3 << QVector<int>() << 0 << stored;
    QTest::newRow("webp lossy") << "lossy.webp" << CV_8U << 3 << QVector<int>{cv::IMWRITE_WEBP_QUALITY, 80} << 0 << stored;
    QTest::newRow("webp lossy alpha") << "alpha.webp" << CV_8U << 4 << QVector<int>{cv::IMWRITE_WEBP_QUALITY, 80} << 0 << stored;
}

void TestOvImageUtils::imageSize()
{
    QFETCH(QString, fileName);
    QFETCH(int, depth);
    QFETCH(int, channels);
    QFETCH(QVector<int>, params);
    QFETCH(int, orientation);
    QFETCH(QSize, expected);

    const QString path = m_dir.filePath(fileName);
    const cv::Mat pattern = TestHelpers::makePattern(37, 23, depth, channels);
    QVERIFY(cv::imwrite(path.toStdString(), pattern, std::vector<int>(params.begin(), params.end())));
    if (orientation)
        QVERIFY(TestHelpers::runExifTool({QStringLiteral("-n"), QStringLiteral("-Orientation=%1").arg(orientation)}, path));

    OvImageUtils utils;
    QCOMPARE(utils.imageSize(path), expected);
}

void TestOvImageUtils::imageSizeOfUnreadableFiles_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("content");

    QTest::newRow("missing") << "missing.png" << QByteArray();
    QTest::newRow("garbage") << "garbage.tif" << QByteArray("II*\0garbage that is no directory", 33);
    QTest::newRow("truncated webp") << "short.webp" << QByteArray("RIFF\x10\0\0\0WEBPVP8X", 16);
    QTest::newRow("text") << "notes.jpg" << QByteArray("just some text");
}

void TestOvImageUtils::imageSizeOfUnreadableFiles()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, content);

    const QString path = m_dir.filePath(fileName);
    if (!content.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    OvImageUtils utils;
    QVERIFY(!utils.imageSize(path).isValid());
}

void TestOvImageUtils::getExtension_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");

    QTest::newRow("upper case") << "/photos/IMG_1.JPG" << "jpg";
    QTest::newRow("two dots") << "/photos/archive.tar.gz" << "gz";
    QTest::newRow("none") << "/photos/README" << "";
    QTest::newRow("dot in folder") << "/photos.v2/README" << "";
    QTest::newRow("heic") << "C:/Users/me/IMG_1.HEIC" << "heic";
}

void TestOvImageUtils::getExtension()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    OvImageUtils utils;
    QCOMPARE(utils.getExtension(path), expected);
}

void TestOvImageUtils::getExportExtension_data()
{
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("expected");

    QTest::newRow("jpg") << "jpg" << "preserve" << "jpg";
    QTest::newRow("jpeg upper case") << "JPEG" << "preserve" << "jpeg";
    QTest::newRow("png") << "png" << "preserve" << "png";
    QTest::newRow("tif") << "tif" << "preserve" << "tif";
    QTest::newRow("tiff") << "tiff" << "preserve" << "tiff";
    QTest::newRow("webp") << "webp" << "preserve" << "webp";
    QTest::newRow("bmp") << "bmp" << "preserve" << "bmp";
    QTest::newRow("heic") << "heic" << "preserve" << "jpeg";
    QTest::newRow("raw") << "cr2" << "preserve" << "jpeg";
    QTest::newRow("none") << "" << "preserve" << "jpeg";
    QTest::newRow("named format") << "heic" << "png" << "png";
    QTest::newRow("unknown mode") << "png" << "whatever" << "jpeg";
}

void TestOvImageUtils::getExportExtension()
{
    QFETCH(QString, extension);
    QFETCH(QString, mode);
    QFETCH(QString, expected);
    QCOMPARE(OvImageUtils::getExportExtension(extension, mode), expected);
}

void TestOvImageUtils::shouldGenerateThumbnail_data()
{
    QTest::addColumn<bool>("sourceExists");
    QTest::addColumn<bool>("thumbnailExists");
    QTest::addColumn<bool>("thumbnailEmpty");
    QTest::addColumn<int>("thumbnailAgeSeconds"); // relative to the source; positive = older
    QTest::addColumn<bool>("expected");

    QTest::newRow("missing thumbnail") << true << false << false << 0 << true;
    QTest::newRow("empty thumbnail") << true << true << true << -60 << true;
    QTest::newRow("older thumbnail") << true << true << false << 60 << true;
    QTest::newRow("newer thumbnail") << true << true << false << -60 << false;
    QTest::newRow("same time") << true << true << false << 0 << false;
    QTest::newRow("source gone, thumbnail kept") << false << true << false << 0 << false;
}

void TestOvImageUtils::shouldGenerateThumbnail()
{
    QFETCH(bool, sourceExists);
    QFETCH(bool, thumbnailExists);
    QFETCH(bool, thumbnailEmpty);
    QFETCH(int, thumbnailAgeSeconds);
    QFETCH(bool, expected);

    const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('_'));
    const QString source = m_dir.filePath(tag + QStringLiteral("-source.png"));
    const QString thumbnail = m_dir.filePath(tag + QStringLiteral("-thumbnail.jpeg"));
    const QDateTime sourceTime = QDateTime::currentDateTime().addDays(-1);

    if (sourceExists) {
        QFile file(source);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("source");
        QVERIFY(file.flush());
        QVERIFY(file.setFileTime(sourceTime, QFileDevice::FileModificationTime));
    }
    if (thumbnailExists) {
        QFile file(thumbnail);
        QVERIFY(file.open(QIODevice::WriteOnly));
        if (!thumbnailEmpty)
            file.write("thumbnail");
        QVERIFY(file.flush());
        QVERIFY(file.setFileTime(sourceTime.addSecs(-thumbnailAgeSeconds), QFileDevice::FileModificationTime));
    }
    QCOMPARE(OvImageUtils::shouldGenerateThumbnail(source, thumbnail, QVariantMap()), expected);
}

QTEST_GUILESS_MAIN(TestOvImageUtils)
#include "tst_ovimageutils.moc"
