#include "LumivexWindow.h"
#include "OvIntegrations.h"
#include "OvIntercom.h"
#include "SampleImage.h"
#include "ViewController.h"
#include "WindowPicture.h"

#include <QApplication>
#include <QQuickItem>
#include <QQuickItemGrabResult>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgproc.hpp>

// The QML window, rendered offscreen with a real integration object and real files: it must show
// the loaded picture (not a blank window), follow crops and enhancement, save, and open another.
class tst_LumivexWindow : public QObject
{
    Q_OBJECT

private:
    LumivexWindow *m_window = nullptr;

    QQuickItem *preview() const
    {
        return m_window->window()->findChild<QQuickItem *>(QStringLiteral("previewImage"));
    }

    // The part of the window where the preview paints the picture.
    cv::Mat shown() const
    {
        QQuickItem *item = preview();
        const QSizeF painted(item->property("paintedWidth").toReal(), item->property("paintedHeight").toReal());
        const QPointF topLeft = item->mapToScene(QPointF((item->width() - painted.width()) / 2,
                                                         (item->height() - painted.height()) / 2));
        const QRect rect = QRectF(topLeft, painted).toAlignedRect().adjusted(1, 1, -1, -1);
        const QImage grab = windowImage().convertToFormat(QImage::Format_RGB888).copy(rect);
        if (grab.isNull())
            return cv::Mat();
        return cv::Mat(grab.height(), grab.width(), CV_8UC3, const_cast<uchar *>(grab.constBits()),
                       size_t(grab.bytesPerLine())).clone();
    }

    // The window as the user sees it. The minimal platform (the Windows build's, here) cannot read
    // its backing store back, so there the items draw into an image of their own on the next frame.
    QImage windowImage() const
    {
        QQuickWindow *window = m_window->window();
        const QImage image = window->grabWindow();
        if (!image.isNull())
            return image;
        const QSharedPointer<QQuickItemGrabResult> result = window->contentItem()->grabToImage();
        if (!result)
            return QImage();
        QSignalSpy ready(result.data(), &QQuickItemGrabResult::ready);
        if (!ready.wait(10000))
            return QImage();
        return WindowPicture::overWindowColour(window, result->image());
    }

    // Mean absolute difference per channel sample between the painted picture and `rgb`; far off
    // when nothing could be grabbed.
    double shownDifference(const cv::Mat &rgb) const
    {
        const cv::Mat picture = shown();
        if (picture.empty())
            return 255.0;
        cv::Mat expected;
        cv::resize(rgb, expected, picture.size(), 0, 0, cv::INTER_AREA);
        return cv::norm(picture, expected, cv::NORM_L1) / double(picture.total() * 3);
    }

    // Delegates hang in the visual tree, not under their view as QObject children.
    static QList<QQuickItem *> itemsNamed(QQuickItem *root, const QString &name)
    {
        QList<QQuickItem *> found;
        for (QQuickItem *child : root->childItems())
            found << (child->objectName() == name ? QList<QQuickItem *>{child} : QList<QQuickItem *>{})
                  << itemsNamed(child, name);
        return found;
    }

private slots:
    void workflow()
    {
        QTemporaryDir dir;
        qputenv("TMPDIR", QFile::encodeName(dir.path()));
        const QString first = dir.filePath(QStringLiteral("Lake at dawn.jpg"));
        const QString second = dir.filePath(QStringLiteral("Hills.png"));
        QVERIFY(SampleImage::write(first, 900, 600) && SampleImage::write(second, 400, 600));
        OvIntegrations integrations({QStringLiteral("lumivex"), QStringLiteral("--editor=Capture One"), first, second,
                                     dir.filePath(QStringLiteral("notes.txt"))});
        OvIntercom intercom;
        integrations.setup(qobject_cast<QApplication *>(qApp), &intercom);
        integrations.start();
        LumivexWindow window(&integrations);
        m_window = &window;
        QVERIFY2(window.load(), qPrintable(window.errors().join(QLatin1Char('\n'))));
        QVERIFY(QTest::qWaitForWindowExposed(window.window()));

        // The first announced image opens by itself; the rejected file is listed.
        ViewController *viewer = window.controller();
        QTRY_VERIFY_WITH_TIMEOUT(viewer->hasImage(), 20000);
        QTRY_COMPARE(preview()->property("status").toInt(), 1); // Image.Ready
        QCOMPARE(viewer->modeText(), QStringLiteral("External editor: Capture One"));
        QCOMPARE(viewer->imageSizeText(), QStringLiteral("900 × 600"));
        QCOMPARE(viewer->rejected(), QStringList{dir.filePath(QStringLiteral("notes.txt"))});
        const cv::Mat landscape = SampleImage::landscape(900, 600);
        QVERIFY(shownDifference(landscape) < 10.0);
        QTRY_VERIFY_WITH_TIMEOUT(!viewer->images().first().toMap().value("thumbnail").toString().isEmpty(), 20000);
        const QList<QQuickItem *> thumbnails = itemsNamed(window.window()->contentItem(), QStringLiteral("thumbnail"));
        QCOMPARE(thumbnails.size(), 2);
        for (QQuickItem *thumbnail : thumbnails)
            QTRY_COMPARE(thumbnail->property("status").toInt(), 1);

        // A second selection is relative to what is shown: the top half of the right half.
        viewer->crop(0.5, 0.0, 0.5, 1.0);
        QTRY_COMPARE(viewer->imageSizeText(), QStringLiteral("450 × 600"));
        QTRY_VERIFY(shownDifference(landscape(cv::Rect(450, 0, 450, 600))) < 10.0);
        viewer->crop(0.0, 0.0, 1.0, 0.5);
        QTRY_COMPARE(viewer->imageSizeText(), QStringLiteral("450 × 300"));
        viewer->resetCrop();
        QTRY_COMPARE(viewer->imageSizeText(), QStringLiteral("900 × 600"));

        const auto original = integrations.imagedata().value(QStringLiteral("image")).value<std::shared_ptr<ImageData>>();
        // The whole picture again before it is taken as the reference of the revert.
        QTRY_VERIFY(shownDifference(landscape(cv::Rect(0, 0, 900, 600))) < 10.0);
        const cv::Mat before = shown();
        viewer->enhance();
        QTRY_VERIFY(viewer->enhanced() && !viewer->busy());
        QVERIFY(viewer->workingImage() != original);
        QTRY_VERIFY(shownDifference(before) > 3.0);
        QSignalSpy saved(&integrations, &OvIntegrations::pluginImageSaved);
        viewer->save();
        QVERIFY(saved.wait(20000));
        QCOMPARE(saved.first().first().toString(), first);
        QVERIFY(viewer->message().startsWith(QStringLiteral("Saved")));
        viewer->revert();
        QTRY_VERIFY2(shownDifference(before) < 1.0, qPrintable(QString::number(shownDifference(before))));

        viewer->open(second);
        QTRY_COMPARE_WITH_TIMEOUT(viewer->imageSizeText(), QStringLiteral("400 × 600"), 20000);
        QTRY_COMPARE(preview()->property("status").toInt(), 1);
        QTRY_VERIFY(shownDifference(SampleImage::landscape(400, 600)) < 10.0);
        integrations.cleanup();
    }
};

QTEST_MAIN(tst_LumivexWindow)
#include "tst_lumivexwindow.moc"
