#include "imaging/OvImageUtils.h"

#include "TestHelpers.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

#include <memory>
#include <vector>

class tst_OvImageUtils : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void imageSize_data();
    void imageSize();
    void getExportExtension_data();
    void getExportExtension();
    void shouldGenerateThumbnail_data();
    void shouldGenerateThumbnail();

private:
    QTemporaryDir m_dir;
};

void tst_OvImageUtils::imageSize_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("webpQuality"); // 0: the format's default
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QByteArray>("content"); // instead of a picture; empty: none
    QTest::addColumn<QSize>("expected");

    const QSize stored(37, 23);
    const QByteArray picture;
    QTest::newRow("png") << "size.png" << CV_8UC3 << 0 << 0 << picture << stored;
    QTest::newRow("jpeg turned by EXIF") << "turned.jpeg" << CV_8UC3 << 0 << 6 << picture << stored.transposed();
    QTest::newRow("tiff turned by EXIF") << "turned.tiff" << CV_16UC3 << 0 << 8 << picture << stored.transposed();
    QTest::newRow("webp lossless") << "lossless.webp" << CV_8UC3 << 0 << 0 << picture << stored;
    QTest::newRow("webp lossy") << "lossy.webp" << CV_8UC3 << 80 << 0 << picture << stored;
    QTest::newRow("webp lossy alpha") << "alpha.webp" << CV_8UC4 << 80 << 0 << picture << stored;
    QTest::newRow("missing") << "missing.png" << 0 << 0 << 0 << QByteArray("-") << QSize();
    QTest::newRow("garbage") << "garbage.tif" << 0 << 0 << 0 << QByteArray("II*\0garbage that is no directory", 33)
                             << QSize();
    QTest::newRow("truncated webp") << "short.webp" << 0 << 0 << 0 << QByteArray("RIFF\x10\0\0\0WEBPVP8X", 16) << QSize();
}

void tst_OvImageUtils::imageSize()
{
    QFETCH(QString, fileName);
    QFETCH(int, type);
    QFETCH(int, webpQuality);
    QFETCH(int, orientation);
    QFETCH(QByteArray, content);
    QFETCH(QSize, expected);

    const QString path = m_dir.filePath(fileName);
    if (content.isEmpty() && fileName.endsWith(QLatin1String(".webp")) && !cv::haveImageWriter(".webp"))
        QSKIP("This build of OpenCV has no WebP codec");
    if (content.isEmpty()) {
        const cv::Mat pattern = TestHelpers::makePattern(37, 23, CV_MAT_DEPTH(type), CV_MAT_CN(type));
        std::vector<int> params;
        if (webpQuality)
            params = {cv::IMWRITE_WEBP_QUALITY, webpQuality};
        QVERIFY(cv::imwrite(path.toStdString(), pattern, params));
    } else if (content != "-") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) > 0);
    }
    if (orientation)
        OV_SKIP_WITHOUT_WINDOWS_EXIFTOOL();
    if (orientation)
        QVERIFY(TestHelpers::runExifTool({QStringLiteral("-n"), QStringLiteral("-Orientation=%1").arg(orientation)}, path));
    QCOMPARE(OvImageUtils().imageSize(path), expected);
}

void tst_OvImageUtils::getExportExtension_data()
{
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("expected");

    QTest::newRow("jpeg upper case") << "JPEG" << "preserve" << "jpeg";
    // Where OpenCV lacks WebP, the format is not offered, and a WebP original comes back as JPEG.
    const QString webp = cv::haveImageWriter(".webp") ? QStringLiteral("webp") : QStringLiteral("jpeg");
    QTest::newRow("webp") << "webp" << "preserve" << webp;
    QTest::newRow("heic") << "heic" << "preserve" << "jpeg";
    QTest::newRow("none") << "" << "preserve" << "jpeg";
    QTest::newRow("named format") << "heic" << "png" << "png";
    QTest::newRow("unknown mode") << "png" << "whatever" << "jpeg";
}

void tst_OvImageUtils::getExportExtension()
{
    QFETCH(QString, extension);
    QFETCH(QString, mode);
    QFETCH(QString, expected);
    QCOMPARE(OvImageUtils::getExportExtension(extension, mode), expected);
}

void tst_OvImageUtils::shouldGenerateThumbnail_data()
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

void tst_OvImageUtils::shouldGenerateThumbnail()
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
    const auto make = [](const QString &path, const QByteArray &content, const QDateTime &time) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() && file.flush()
            && file.setFileTime(time, QFileDevice::FileModificationTime);
    };
    QVERIFY(!sourceExists || make(source, "source", sourceTime));
    QVERIFY(!thumbnailExists
            || make(thumbnail, thumbnailEmpty ? QByteArray() : QByteArray("thumbnail"), sourceTime.addSecs(-thumbnailAgeSeconds)));
    QCOMPARE(OvImageUtils::shouldGenerateThumbnail(source, thumbnail, QVariantMap()), expected);
}

QTEST_GUILESS_MAIN(tst_OvImageUtils)
#include "tst_ovimageutils.moc"
