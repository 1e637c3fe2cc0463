#include "imaging/CvUtils.h"

#include <QtTest>

#include <opencv2/core.hpp>

class tst_CvUtils : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void convert_data();
    void convert();
    void unsupportedDepthGivesEmptyMatrix();
};

void tst_CvUtils::convert_data()
{
    QTest::addColumn<int>("fromDepth");
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("toDepth");
    QTest::addColumn<double>("expected");

    QTest::newRow("8-bit middle to 16-bit") << CV_8U << 128.0 << CV_16U << 32896.0;
    QTest::newRow("8-bit white to float") << CV_8U << 255.0 << CV_32F << 1.0;
    QTest::newRow("16-bit middle to float") << CV_16U << 32768.0 << CV_32F << double(32768.0f / 65535.0f);
    QTest::newRow("float one to 16-bit") << CV_32F << 1.0 << CV_16U << 65535.0;
    QTest::newRow("float half to 16-bit rounds") << CV_32F << 0.5 << CV_16U << 32768.0;
    QTest::newRow("float 0.2 to 8-bit") << CV_32F << 0.2 << CV_8U << 51.0;
    QTest::newRow("same depth float keeps range") << CV_32F << 1.5 << CV_32F << 1.5;
}

void tst_CvUtils::convert()
{
    QFETCH(int, fromDepth);
    QFETCH(double, value);
    QFETCH(int, toDepth);
    QFETCH(double, expected);

    for (int channels : {1, 3, 4}) {
        cv::Mat input(5, 7, CV_MAKETYPE(fromDepth, channels), cv::Scalar::all(value));
        const cv::Mat before = input.clone();

        const cv::Mat output = CvUtils::convert(input, toDepth);

        QCOMPARE(output.depth(), toDepth);
        QCOMPARE(output.channels(), channels);
        QCOMPARE(output.size(), input.size());
        QVERIFY(output.data != input.data);
        QCOMPARE(cv::norm(input, before, cv::NORM_INF), 0.0);

        double minimum = 0;
        double maximum = 0;
        cv::minMaxIdx(output.reshape(1), &minimum, &maximum);
        // Float results may differ from the decimal expectation in the last bit.
        QVERIFY2(qAbs(minimum - expected) <= 1e-6 && qAbs(maximum - expected) <= 1e-6,
                 qPrintable(QStringLiteral("got %1..%2").arg(minimum).arg(maximum)));
    }
}

void tst_CvUtils::unsupportedDepthGivesEmptyMatrix()
{
    const cv::Mat signedImage(3, 3, CV_16SC3, cv::Scalar::all(-5));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("unsupported depth")));
    QVERIFY(CvUtils::convert(signedImage, CV_16U).empty());
}

QTEST_GUILESS_MAIN(tst_CvUtils)
#include "tst_cvutils.moc"
