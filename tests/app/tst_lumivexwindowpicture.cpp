#include "LumivexProcess.h"
#include "SampleImage.h"
#include "TestHelpers.h"

#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgproc.hpp>

// The real lumivex program opens its window without a display and writes a PNG of it once the
// first image is shown: the picture must be in it, where the program says, with the image's own
// pixels (a blank, grey or stale preview fails), in a window of the size the QML declares.
class tst_LumivexWindowPicture : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;

    // The window's size as Main.qml declares it.
    static constexpr int WindowWidth = 1100;
    static constexpr int WindowHeight = 700;

    static cv::Mat rgbOf(const QImage &image)
    {
        const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
        return cv::Mat(rgb.height(), rgb.width(), CV_8UC3, const_cast<uchar *>(rgb.constBits()),
                       size_t(rgb.bytesPerLine())).clone();
    }

    // Mean absolute difference per sample between `rect` of the window and the image scaled to it.
    static double difference(const QImage &window, const QRect &rect, const cv::Mat &image)
    {
        // One pixel in from the edges, where the scaled picture blends with the background.
        const QRect inner = rect.adjusted(1, 1, -1, -1);
        const cv::Mat shown = rgbOf(window.copy(inner));
        cv::Mat expected;
        cv::resize(image, expected, cv::Size(rect.width(), rect.height()), 0, 0, cv::INTER_AREA);
        expected = expected(cv::Rect(1, 1, inner.width(), inner.height()));
        return cv::norm(shown, expected, cv::NORM_L1) / double(shown.total() * 3);
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void windowShowsTheImage_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("filterHost");
        // Each row would catch a window without its picture: a preview that never arrives (the
        // run times out), one painted grey or black, or a QML module missing from the platform's
        // build (the window does not load and the run fails with the engine's message).
        QTest::newRow("photo manager, landscape JPEG") << "Lake at dawn.jpg" << QSize(900, 600) << false;
        QTest::newRow("on its own, portrait PNG") << "Hills.png" << QSize(400, 600) << false;
        QTest::newRow("filter module, 16-bit planes") << "host.png" << QSize(640, 400) << true;
    }

    void windowShowsTheImage()
    {
        QFETCH(QString, file);
        QFETCH(QSize, size);
        QFETCH(bool, filterHost);
        const QString image = m_dir->filePath(file);
        QVERIFY(SampleImage::write(image, size.width(), size.height()));
        const QString png = m_dir->filePath(QStringLiteral("window.png"));
        QProcessEnvironment environment = TestHelpers::isolatedEnvironment(m_dir->filePath(QStringLiteral("env")));
        // The program picks its own platform for a run without a display.
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));

        LumivexProcess run(environment);
        const QString lumivex = QDir(TestHelpers::binDir()).filePath(QStringLiteral("lumivex"));
        const QString option = QStringLiteral("--window-png=") + png;
        if (filterHost)
            run.start({image, m_dir->filePath(QStringLiteral("out.png")), "--", lumivex, option},
                      QStringLiteral("ovfilterhost"));
        else
            run.start({option, QStringLiteral("--editor=Capture One"), image});
        QVERIFY2(run.finish(120000), qPrintable(run.output() + run.errors()));
        const QRegularExpressionMatch line =
            QRegularExpression(QStringLiteral("window %1x%2, image at (\\d+),(\\d+) size (\\d+)x(\\d+)")
                                   .arg(WindowWidth)
                                   .arg(WindowHeight))
                .match(run.output());
        QVERIFY2(line.hasMatch(), qPrintable(run.output() + run.errors()));
        const QRect rect(line.captured(1).toInt(), line.captured(2).toInt(), line.captured(3).toInt(),
                         line.captured(4).toInt());

        const QImage window(png);
        QCOMPARE(window.size(), QSize(WindowWidth, WindowHeight));
        QVERIFY2(window.rect().contains(rect) && rect.width() > 100 && rect.height() > 100,
                 qPrintable(QStringLiteral("picture at %1,%2 %3x%4").arg(rect.x()).arg(rect.y()).arg(rect.width()).arg(rect.height())));
        // The picture keeps the image's proportions.
        QVERIFY(qAbs(rect.width() * size.height() - rect.height() * size.width()) <= size.width() + size.height());
        const double diff = difference(window, rect, SampleImage::landscape(size.width(), size.height()));
        QVERIFY2(diff < 10.0, qPrintable(QString::number(diff)));
    }

    void noImageNoPicture()
    {
        // A launch whose file cannot be read must end with an error, not wait for ever or write
        // a picture of an empty window.
        const QString png = m_dir->filePath(QStringLiteral("window.png"));
        const QString broken = m_dir->filePath(QStringLiteral("broken.jpg"));
        QFile file(broken);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("not a JPEG") > 0);
        file.close();
        QProcessEnvironment environment = TestHelpers::isolatedEnvironment(m_dir->filePath(QStringLiteral("env")));
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        LumivexProcess run(environment);
        run.start({QStringLiteral("--window-png=") + png, QStringLiteral("--editor=Capture One"), broken});
        QVERIFY(run.finish(120000));
        QCOMPARE(run.process().exitCode(), 1);
        QVERIFY(!QFile::exists(png));
    }
};

QTEST_GUILESS_MAIN(tst_LumivexWindowPicture)
#include "tst_lumivexwindowpicture.moc"
