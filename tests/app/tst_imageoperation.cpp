#include "ImageOperation.h"
#include "SampleImage.h"

#include "imaging/CvUtils.h"

#include <QtTest>

#include <opencv2/imgproc.hpp>

// The demo enhancement: a new image of the same shape, visibly more contrast and detail, colour
// and alpha kept, input untouched.
class tst_ImageOperation : public QObject
{
    Q_OBJECT

private:
    // Luminance, its mean absolute Laplacian (the fine detail the eye sees) and its spread.
    static cv::Mat luminance(const cv::Mat &image)
    {
        std::vector<cv::Mat> planes;
        cv::split(CvUtils::convert(image, CV_32F), planes);
        return planes.size() < 3 ? planes[0] : 0.2126 * planes[0] + 0.7152 * planes[1] + 0.0722 * planes[2];
    }

    static double detail(const cv::Mat &image)
    {
        cv::Mat laplacian;
        cv::Laplacian(luminance(image), laplacian, CV_32F);
        return cv::mean(cv::abs(laplacian))[0];
    }

    static double spread(const cv::Mat &image)
    {
        cv::Scalar mean, deviation;
        cv::meanStdDev(luminance(image), mean, deviation);
        return deviation[0];
    }

    static cv::Mat sample(QSize size, int depth, int channels)
    {
        const cv::Mat rgb = SampleImage::landscape(size.width(), size.height());
        cv::Mat shaped = rgb;
        if (channels == 1)
            cv::cvtColor(rgb, shaped, cv::COLOR_RGB2GRAY);
        if (channels == 4) {
            // An alpha ramp, so that a lost or altered alpha shows.
            cv::Mat alpha(rgb.size(), CV_8U);
            for (int x = 0; x < alpha.cols; ++x)
                alpha.col(x).setTo(cv::saturate_cast<uchar>(x * 255 / alpha.cols));
            cv::merge(std::vector<cv::Mat>{rgb, alpha}, shaped);
        }
        return CvUtils::convert(shaped, depth);
    }

private slots:
    void enhance_data()
    {
        QTest::addColumn<QSize>("size"); // too small for detail to show: only the shape is checked
        QTest::addColumn<int>("depth");
        QTest::addColumn<int>("channels");
        QTest::newRow("8-bit RGB") << QSize(320, 200) << CV_8U << 3;
        QTest::newRow("16-bit RGBA, filter host") << QSize(320, 200) << CV_16U << 4;
        QTest::newRow("float RGB") << QSize(320, 200) << CV_32F << 3;
        QTest::newRow("8-bit grey") << QSize(320, 200) << CV_8U << 1;
        QTest::newRow("1x1") << QSize(1, 1) << CV_8U << 3;
        QTest::newRow("3x200") << QSize(3, 200) << CV_8U << 3;
    }

    void enhance()
    {
        QFETCH(QSize, size);
        QFETCH(int, depth);
        QFETCH(int, channels);
        const cv::Mat input = sample(size, depth, channels);
        const cv::Mat before = input.clone();

        const cv::Mat output = ImageOperation::enhance(input);

        QCOMPARE(output.size(), input.size());
        QCOMPARE(output.type(), input.type());
        QCOMPARE(cv::norm(input, before, cv::NORM_INF), 0.0);
        if (size.width() < 100)
            return;
        QVERIFY2(detail(output) > 1.5 * detail(input),
                 qPrintable(QStringLiteral("detail %1 -> %2").arg(detail(input)).arg(detail(output))));
        QVERIFY2(spread(output) > 1.04 * spread(input),
                 qPrintable(QStringLiteral("spread %1 -> %2").arg(spread(input)).arg(spread(output))));
        std::vector<cv::Mat> in, out;
        cv::split(input, in);
        cv::split(output, out);
        QVERIFY(channels != 4 || cv::norm(in[3], out[3], cv::NORM_INF) == 0.0); // alpha kept
        double low = 0, high = 0;
        cv::minMaxIdx(output, &low, &high);
        QVERIFY(depth != CV_32F || (low >= 0.0 && high <= 1.0));
    }

    void enhanceKeepsHue()
    {
        // A red patch stays red and a blue one blue: only lightness is equalised.
        cv::Mat input(120, 160, CV_8UC3, cv::Scalar(90, 110, 130));
        input(cv::Rect(0, 0, 80, 120)).setTo(cv::Scalar(170, 80, 70));
        const cv::Mat output = ImageOperation::enhance(input);
        const cv::Scalar left = cv::mean(output(cv::Rect(10, 10, 60, 100)));
        const cv::Scalar right = cv::mean(output(cv::Rect(90, 10, 60, 100)));
        QVERIFY2(left[0] > left[1] + 40 && left[0] > left[2] + 40, "red patch lost its hue");
        QVERIFY2(right[2] > right[0] + 20, "blue patch lost its hue");
    }

    // Enhance works on the cropped region and makes a new image of it; nothing comes of no image.
    void apply()
    {
        const auto image = std::make_shared<ImageData>(sample(QSize(320, 200), CV_16U, 4), cv::Mat());
        image->crop(QRectF(0.25, 0.5, 0.5, 0.25));
        const auto enhanced = ImageOperation::apply(ImageOperation::Enhance, image);
        QVERIFY(enhanced && enhanced != image);
        QCOMPARE(enhanced->fullSize(), QSize(160, 50));
        QVERIFY(cv::norm(enhanced->mat(), image->mat(), cv::NORM_L1) > 0);
        QVERIFY(!ImageOperation::apply(ImageOperation::Enhance, nullptr));
    }
};

QTEST_GUILESS_MAIN(tst_ImageOperation)
#include "tst_imageoperation.moc"
