#include "imaging/ImageData.h"

#include "TestHelpers.h"

#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

#include <atomic>

class TestImageData : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void crop_data();
    void crop();
    void cropAlwaysAppliesToTheFullImage();
    void emptyImageHasEmptySize();
    void fullMat_data();
    void fullMat();
    void fullMatKeepsRegionWithoutCopyWhenChannelsMatch();
    void imwriteWritesRgbaPng();
    void imwriteReportsFailure();
    void cropWhileAnotherThreadReads();
};

void TestImageData::crop_data()
{
    QTest::addColumn<QRectF>("relative");
    QTest::addColumn<QRect>("expected");

    // The image is 100 x 50.
    QTest::newRow("whole") << QRectF(0, 0, 1, 1) << QRect(0, 0, 100, 50);
    QTest::newRow("left half") << QRectF(0, 0, 0.5, 1) << QRect(0, 0, 50, 50);
    QTest::newRow("centre") << QRectF(0.25, 0.2, 0.5, 0.6) << QRect(25, 10, 50, 30);
    QTest::newRow("larger than the image") << QRectF(-0.5, -0.5, 2, 2) << QRect(0, 0, 100, 50);
    QTest::newRow("partly outside") << QRectF(0.8, 0.5, 0.5, 1) << QRect(80, 25, 20, 25);
    QTest::newRow("negative extent") << QRectF(1, 1, -0.5, -0.5) << QRect(50, 25, 50, 25);
    QTest::newRow("entirely outside") << QRectF(1.5, 0, 0.5, 1) << QRect(100, 0, 0, 50);
}

void TestImageData::crop()
{
    QFETCH(QRectF, relative);
    QFETCH(QRect, expected);

    const cv::Mat full = TestHelpers::makePattern(100, 50, CV_16U, 3);
    ImageData image(full, cv::Mat());
    image.crop(relative);

    QCOMPARE(image.size(), expected.size());
    QCOMPARE(image.width(), expected.width());
    QCOMPARE(image.height(), expected.height());
    QCOMPARE(image.fullSize(), QSize(100, 50));

    const cv::Mat region = image.mat();
    QCOMPARE(region.empty(), expected.isEmpty());
    if (!expected.isEmpty()) {
        QCOMPARE(region.cols, expected.width());
        QCOMPARE(region.rows, expected.height());
        // A header into the full image, not a copy.
        QCOMPARE(region.data, full.ptr(expected.y(), expected.x()));
        QCOMPARE(cv::norm(region, full(cv::Rect(expected.x(), expected.y(), expected.width(), expected.height())),
                          cv::NORM_INF),
                 0.0);
    }
}

void TestImageData::cropAlwaysAppliesToTheFullImage()
{
    const cv::Mat full = TestHelpers::makePattern(80, 40, CV_8U, 4);
    ImageData image(full, cv::Mat());

    image.crop(QRectF(0.5, 0.5, 0.5, 0.5));
    QCOMPARE(image.size(), QSize(40, 20));
    image.crop(QRectF(0, 0, 0.5, 0.5));
    QCOMPARE(image.size(), QSize(40, 20));
    QCOMPARE(image.mat().data, full.data);
    image.crop(QRectF(0, 0, 1, 1));
    QCOMPARE(image.size(), QSize(80, 40));
    QCOMPARE(image.fullSize(), QSize(80, 40));
}

void TestImageData::emptyImageHasEmptySize()
{
    ImageData image{cv::Mat(), cv::Mat()};
    QVERIFY(image.size().isEmpty());
    QVERIFY(image.fullSize().isEmpty());
    QVERIFY(image.mat().empty());
    QVERIFY(image.fullMat(true).empty());
    image.crop(QRectF(0, 0, 0.5, 0.5));
    QVERIFY(image.size().isEmpty());
}

void TestImageData::fullMat_data()
{
    QTest::addColumn<int>("depth");
    QTest::addColumn<int>("channels");
    QTest::addColumn<bool>("alpha");

    for (int depth : {CV_8U, CV_16U, CV_32F}) {
        for (int channels : {1, 3, 4}) {
            for (bool alpha : {true, false}) {
                const QByteArray name = QByteArray("depth ") + QByteArray::number(depth) + " channels "
                    + QByteArray::number(channels) + (alpha ? " with alpha" : " without alpha");
                QTest::newRow(name.constData()) << depth << channels << alpha;
            }
        }
    }
}

void TestImageData::fullMat()
{
    QFETCH(int, depth);
    QFETCH(int, channels);
    QFETCH(bool, alpha);

    cv::Mat full = TestHelpers::makePattern(64, 48, depth == CV_32F ? CV_16U : depth, channels);
    if (depth == CV_32F)
        full.convertTo(full, CV_32F, 1.0 / 65535.0);
    const double opaque = depth == CV_8U ? 255.0 : depth == CV_16U ? 65535.0 : 1.0;

    ImageData image(full, cv::Mat());
    image.crop(QRectF(0.25, 0.25, 0.5, 0.5));
    const cv::Mat region = full(cv::Rect(16, 12, 32, 24));

    const cv::Mat result = image.fullMat(alpha);
    QCOMPARE(result.cols, 32);
    QCOMPARE(result.rows, 24);
    QCOMPARE(result.depth(), depth);
    QCOMPARE(result.channels(), alpha ? 4 : 3);

    std::vector<cv::Mat> source;
    std::vector<cv::Mat> produced;
    cv::split(region, source);
    cv::split(result, produced);
    for (int c = 0; c < 3; ++c) {
        const cv::Mat &expected = channels == 1 ? source[0] : source[size_t(c)];
        QCOMPARE(cv::norm(produced[size_t(c)], expected, cv::NORM_INF), 0.0);
    }
    if (alpha) {
        if (channels == 4) {
            QCOMPARE(cv::norm(produced[3], source[3], cv::NORM_INF), 0.0);
        } else {
            double minimum = 0;
            double maximum = 0;
            cv::minMaxIdx(produced[3], &minimum, &maximum);
            QCOMPARE(minimum, opaque);
            QCOMPARE(maximum, opaque);
        }
    }
}

void TestImageData::fullMatKeepsRegionWithoutCopyWhenChannelsMatch()
{
    const cv::Mat rgba = TestHelpers::makePattern(30, 20, CV_16U, 4);
    ImageData withAlpha(rgba, cv::Mat());
    withAlpha.crop(QRectF(0.5, 0, 0.5, 1));
    QCOMPARE(withAlpha.fullMat(true).data, withAlpha.mat().data);

    const cv::Mat rgb = TestHelpers::makePattern(30, 20, CV_8U, 3);
    ImageData withoutAlpha(rgb, cv::Mat());
    QCOMPARE(withoutAlpha.fullMat(false).data, rgb.data);
}

void TestImageData::imwriteWritesRgbaPng()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("thumb.png"));

    cv::Mat image(10, 12, CV_32FC4, cv::Scalar(1.0, 0.5, 0.0, 0.25));
    image.at<cv::Vec4f>(3, 4) = cv::Vec4f(-0.5f, 2.0f, 0.2f, 1.0f);
    QVERIFY(ImageData::imwrite(path, image));

    const cv::Mat written = cv::imread(path.toStdString(), cv::IMREAD_UNCHANGED);
    QCOMPARE(written.type(), CV_8UC4);
    QCOMPARE(written.cols, 12);
    QCOMPARE(written.rows, 10);
    // The file is blue first: B, G, R, A.
    QCOMPARE(written.at<cv::Vec4b>(0, 0), cv::Vec4b(0, 128, 255, 64));
    QCOMPARE(written.at<cv::Vec4b>(3, 4), cv::Vec4b(51, 255, 0, 255));
}

void TestImageData::imwriteReportsFailure()
{
    QTemporaryDir dir;
    cv::Mat image(4, 4, CV_32FC4, cv::Scalar::all(0.5));
    QVERIFY(!ImageData::imwrite(dir.filePath(QStringLiteral("missing/folder/x.png")), image));
    cv::Mat empty;
    QVERIFY(!ImageData::imwrite(dir.filePath(QStringLiteral("empty.png")), empty));
}

void TestImageData::cropWhileAnotherThreadReads()
{
    ImageData image(TestHelpers::makePattern(200, 100, CV_8U, 3), cv::Mat());
    const QSize first(100, 25);  // (0, 0, 0.5, 0.25)
    const QSize second(50, 100); // (0.5, 0, 0.25, 1)
    image.crop(QRectF(0, 0, 0.5, 0.25));

    std::atomic<bool> stop{false};
    QThread *cropper = QThread::create([&] {
        for (int i = 0; !stop.load(); ++i)
            image.crop(i % 2 ? QRectF(0, 0, 0.5, 0.25) : QRectF(0.5, 0, 0.25, 1));
    });
    cropper->start();
    int mixed = 0;
    for (int i = 0; i < 20000; ++i) {
        const cv::Mat region = image.mat();
        const QSize seen(region.cols, region.rows);
        if (seen != first && seen != second)
            ++mixed;
    }
    stop = true;
    cropper->wait();
    delete cropper;
    QCOMPARE(mixed, 0);
}

QTEST_GUILESS_MAIN(TestImageData)
#include "tst_imagedata.moc"
