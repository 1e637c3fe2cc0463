#include "imaging/ImageData.h"

#include "TestHelpers.h"

#include <QThread>
#include <QtTest>

#include <opencv2/core.hpp>

#include <atomic>

class tst_ImageData : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void crop_data();
    void crop();
    void fullMat_data();
    void fullMat();
    void cropWhileAnotherThreadReads();
};

void tst_ImageData::crop_data()
{
    QTest::addColumn<QRectF>("earlier"); // a crop made first; empty for none
    QTest::addColumn<QRectF>("relative");
    QTest::addColumn<QRect>("expected");

    // The image is 100 x 50.
    const QRectF none;
    QTest::newRow("centre") << none << QRectF(0.25, 0.2, 0.5, 0.6) << QRect(25, 10, 50, 30);
    QTest::newRow("larger than the image") << none << QRectF(-0.5, -0.5, 2, 2) << QRect(0, 0, 100, 50);
    QTest::newRow("partly outside") << none << QRectF(0.8, 0.5, 0.5, 1) << QRect(80, 25, 20, 25);
    QTest::newRow("negative extent") << none << QRectF(1, 1, -0.5, -0.5) << QRect(50, 25, 50, 25);
    QTest::newRow("entirely outside") << none << QRectF(1.5, 0, 0.5, 1) << QRect(100, 0, 0, 50);
    QTest::newRow("relative to the full image") << QRectF(0.5, 0.5, 0.5, 0.5) << QRectF(0, 0, 0.5, 0.5)
                                                << QRect(0, 0, 50, 25);
    QTest::newRow("whole again after a crop") << QRectF(0.5, 0.5, 0.5, 0.5) << QRectF(0, 0, 1, 1)
                                              << QRect(0, 0, 100, 50);
}

void tst_ImageData::crop()
{
    QFETCH(QRectF, earlier);
    QFETCH(QRectF, relative);
    QFETCH(QRect, expected);

    const cv::Mat full = TestHelpers::makePattern(100, 50, CV_16U, 3);
    ImageData image(full, cv::Mat());
    if (!earlier.isEmpty())
        image.crop(earlier);
    image.crop(relative);

    QCOMPARE(image.size(), expected.size());
    QCOMPARE(image.fullSize(), QSize(100, 50));
    const cv::Mat region = image.mat();
    QCOMPARE(region.empty(), expected.isEmpty());
    // A header into the full image, not a copy: every holder of the image sees the region.
    if (!expected.isEmpty())
        QCOMPARE(region.data, full.ptr(expected.y(), expected.x()));

    ImageData empty{cv::Mat(), cv::Mat()};
    empty.crop(relative);
    QVERIFY(empty.size().isEmpty() && empty.fullSize().isEmpty() && empty.fullMat(true).empty());
}

void tst_ImageData::fullMat_data()
{
    QTest::addColumn<int>("depth");
    QTest::addColumn<int>("channels");
    QTest::addColumn<bool>("alpha");

    for (int depth : {CV_8U, CV_16U, CV_32F}) {
        for (int channels : {1, 3, 4}) {
            for (bool alpha : {true, false})
                QTest::addRow("depth %d, %d channels, alpha %d", depth, channels, alpha) << depth << channels << alpha;
        }
    }
}

void tst_ImageData::fullMat()
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

    const cv::Mat result = image.fullMat(alpha);
    QCOMPARE(result.type(), CV_MAKETYPE(depth, alpha ? 4 : 3));
    QCOMPARE(QSize(result.cols, result.rows), QSize(32, 24));
    std::vector<cv::Mat> source;
    std::vector<cv::Mat> produced;
    cv::split(full(cv::Rect(16, 12, 32, 24)), source);
    cv::split(result, produced);
    for (size_t c = 0; c < 3; ++c)
        QCOMPARE(cv::norm(produced[c], source[channels == 1 ? 0 : c], cv::NORM_INF), 0.0);
    if (alpha && channels == 4)
        QCOMPARE(cv::norm(produced[3], source[3], cv::NORM_INF), 0.0);
    else if (alpha)
        QCOMPARE(cv::countNonZero(produced[3] != opaque), 0);
}

// The user interface crops on its thread while the worker reads the region on another: a reader
// must see one crop or the other, never a mixture.
void tst_ImageData::cropWhileAnotherThreadReads()
{
    ImageData image(TestHelpers::makePattern(200, 100, CV_8U, 3), cv::Mat());
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
        mixed += seen != QSize(100, 25) && seen != QSize(50, 100);
    }
    stop = true;
    cropper->wait();
    delete cropper;
    QCOMPARE(mixed, 0);
}

QTEST_GUILESS_MAIN(tst_ImageData)
#include "tst_imagedata.moc"
