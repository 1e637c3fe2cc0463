#include "LumivexWindow.h"
#include "OvIntegrations.h"
#include "OvIntercom.h"
#include "SampleImage.h"
#include "TestHelpers.h"
#include "ViewController.h"

#include <QApplication>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgproc.hpp>

#include <memory>

// The QML window, rendered offscreen with a real integration object and real files: it must show
// the loaded picture (not a blank window), follow crops and enhancement, and save.
class tst_LumivexWindow : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_first;
    QString m_second;
    std::unique_ptr<OvIntegrations> m_integrations;
    std::unique_ptr<OvIntercom> m_intercom;
    std::unique_ptr<LumivexWindow> m_window;

    QQuickItem *preview() const
    {
        return m_window->window()->findChild<QQuickItem *>(QStringLiteral("previewImage"));
    }

    // The part of the window where the preview paints the picture.
    QImage grabPicture() const
    {
        QQuickItem *item = preview();
        const qreal paintedWidth = item->property("paintedWidth").toReal();
        const qreal paintedHeight = item->property("paintedHeight").toReal();
        const QPointF topLeft = item->mapToScene(QPointF((item->width() - paintedWidth) / 2,
                                                         (item->height() - paintedHeight) / 2));
        const QImage window = m_window->window()->grabWindow().convertToFormat(QImage::Format_RGB888);
        const QRect rect = QRectF(topLeft, QSizeF(paintedWidth, paintedHeight)).toAlignedRect().adjusted(1, 1, -1, -1);
        return window.copy(rect);
    }

    // Delegates hang in the visual tree, not under their view as QObject children.
    static QList<QQuickItem *> itemsNamed(QQuickItem *root, const QString &name)
    {
        QList<QQuickItem *> found;
        for (QQuickItem *child : root->childItems()) {
            if (child->objectName() == name)
                found << child;
            found << itemsNamed(child, name);
        }
        return found;
    }

    // Mean absolute difference per channel sample between a grab and a picture, at the grab's size.
    static double difference(const QImage &grab, const cv::Mat &rgb)
    {
        const cv::Mat shown(grab.height(), grab.width(), CV_8UC3, const_cast<uchar *>(grab.constBits()), size_t(grab.bytesPerLine()));
        cv::Mat expected;
        cv::resize(rgb, expected, shown.size(), 0, 0, cv::INTER_AREA);
        return cv::norm(shown, expected, cv::NORM_L1) / double(shown.total() * 3);
    }

    static cv::Mat asMat(const QImage &image)
    {
        const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
        return cv::Mat(rgb.height(), rgb.width(), CV_8UC3, const_cast<uchar *>(rgb.constBits()), size_t(rgb.bytesPerLine())).clone();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        qputenv("TMPDIR", QFile::encodeName(m_dir.path()));
        m_first = m_dir.filePath(QStringLiteral("Lake at dawn.jpg"));
        m_second = m_dir.filePath(QStringLiteral("Hills.png"));
        QVERIFY(SampleImage::write(m_first, 900, 600));
        QVERIFY(SampleImage::write(m_second, 400, 600));
    }

    void init()
    {
        m_integrations = std::make_unique<OvIntegrations>(
            QStringList{QStringLiteral("lumivex"), QStringLiteral("--editor=Capture One"), m_first, m_second,
                        m_dir.filePath(QStringLiteral("notes.txt"))});
        m_intercom = std::make_unique<OvIntercom>();
        m_integrations->setup(qobject_cast<QApplication *>(qApp), m_intercom.get());
        m_integrations->start();
        m_window = std::make_unique<LumivexWindow>(m_integrations.get());
        QVERIFY2(m_window->load(), qPrintable(m_window->errors().join(QLatin1Char('\n'))));
        QVERIFY(QTest::qWaitForWindowExposed(m_window->window()));
        // The first announced image opens by itself.
        QTRY_VERIFY_WITH_TIMEOUT(m_window->controller()->hasImage(), 20000);
        QTRY_COMPARE(preview()->property("status").toInt(), 1); // Image.Ready
    }

    void cleanup()
    {
        m_window.reset();
        m_integrations->cleanup();
        m_integrations.reset();
        m_intercom.reset();
    }

    void showsTheLoadedImage()
    {
        ViewController *viewer = m_window->controller();
        QCOMPARE(viewer->modeText(), QStringLiteral("External editor: Capture One"));
        QCOMPARE(m_integrations->property("currentImage").toString(), m_first);
        QCOMPARE(viewer->imageSizeText(), QStringLiteral("900 × 600"));
        QCOMPARE(viewer->images().size(), 2);
        QCOMPARE(viewer->rejected(), QStringList{m_dir.filePath(QStringLiteral("notes.txt"))});
        // Wait for the thumbnails too, so that the screenshot shows the whole window at work.
        QTRY_VERIFY_WITH_TIMEOUT(!viewer->images().first().toMap().value(QStringLiteral("thumbnail")).toString().isEmpty(), 20000);
        const QList<QQuickItem *> thumbnails = itemsNamed(m_window->window()->contentItem(), QStringLiteral("thumbnail"));
        QCOMPARE(thumbnails.size(), 2);
        for (QQuickItem *thumbnail : thumbnails)
            QTRY_COMPARE(thumbnail->property("status").toInt(), 1);

        const QImage picture = grabPicture();
        QVERIFY(picture.width() > 300 && picture.height() > 200);
        QCOMPARE(qRound(100.0 * picture.width() / picture.height()), 150);
        const double shown = difference(picture, SampleImage::landscape(900, 600));
        QVERIFY2(shown < 10.0, qPrintable(QStringLiteral("mean difference %1").arg(shown)));
        // A window without the picture (only the background) is far from it.
        const cv::Mat background(600, 900, CV_8UC3, cv::Scalar(0x1d, 0x1f, 0x23));
        QVERIFY(difference(picture, background) > 50.0);

        const QString screenshot = QDir(TestHelpers::binDir()).filePath(QStringLiteral("../lumivex-window.png"));
        QVERIFY(m_window->window()->grabWindow().save(screenshot));
        qInfo() << "Window screenshot:" << QDir::cleanPath(screenshot);
    }

    void enhancementChangesThePicture()
    {
        ViewController *viewer = m_window->controller();
        const QImage before = grabPicture();
        viewer->enhance();
        QTRY_VERIFY(viewer->enhanced() && !viewer->busy());
        QTRY_COMPARE(preview()->property("status").toInt(), 1);
        QTRY_VERIFY(difference(grabPicture(), asMat(before)) > 3.0);
        QVERIFY(viewer->workingImage() != m_integrations->imagedata().value(QStringLiteral("image")).value<std::shared_ptr<ImageData>>());

        viewer->revert();
        QTRY_VERIFY(difference(grabPicture(), asMat(before)) < 1.0);
    }

    void cropShowsTheRegion()
    {
        ViewController *viewer = m_window->controller();
        viewer->crop(0.5, 0.0, 0.5, 1.0);
        QTRY_COMPARE(viewer->imageSizeText(), QStringLiteral("450 × 600"));
        QTRY_COMPARE(qRound(100.0 * preview()->property("paintedWidth").toReal() / preview()->property("paintedHeight").toReal()), 75);
        const cv::Mat right = SampleImage::landscape(900, 600)(cv::Rect(450, 0, 450, 600));
        QTRY_VERIFY(difference(grabPicture(), right) < 10.0);

        // A second selection is relative to what is shown: the top half of the right half.
        viewer->crop(0.0, 0.0, 1.0, 0.5);
        QTRY_COMPARE(viewer->imageSizeText(), QStringLiteral("450 × 300"));
        viewer->resetCrop();
        QTRY_COMPARE(viewer->imageSizeText(), QStringLiteral("900 × 600"));
    }

    void savesBackInPlace()
    {
        ViewController *viewer = m_window->controller();
        QSignalSpy saved(m_integrations.get(), &OvIntegrations::pluginImageSaved);
        const QDateTime before = QFileInfo(m_first).lastModified();
        viewer->enhance();
        QTRY_VERIFY(viewer->enhanced() && !viewer->busy());
        QVERIFY(viewer->workingImage() != m_integrations->imagedata().value(QStringLiteral("image")).value<std::shared_ptr<ImageData>>());
        viewer->save();
        QVERIFY(saved.wait(20000));
        QCOMPARE(saved.first().first().toString(), m_first);
        QVERIFY(QFileInfo(m_first).lastModified() >= before);
        QVERIFY(viewer->message().startsWith(QStringLiteral("Saved")));
    }

    void opensAnotherImage()
    {
        ViewController *viewer = m_window->controller();
        viewer->open(m_second);
        QTRY_COMPARE_WITH_TIMEOUT(viewer->imageSizeText(), QStringLiteral("400 × 600"), 20000);
        QTRY_COMPARE(preview()->property("status").toInt(), 1);
        QTRY_VERIFY(difference(grabPicture(), SampleImage::landscape(400, 600)) < 10.0);
    }
};

QTEST_MAIN(tst_LumivexWindow)
#include "tst_lumivexwindow.moc"
