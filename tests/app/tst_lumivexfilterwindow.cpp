#include "FilterHostSession.h"
#include "HostImageCodec.h"
#include "ImageOperation.h"
#include "LumivexWindow.h"
#include "OvIntegrations.h"
#include "OvIntercom.h"
#include "SampleImage.h"
#include "ViewController.h"

#include "imaging/CvUtils.h"

#include <QApplication>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgproc.hpp>

// The window in filter-host mode, against real shared-memory channels that this test fills the
// way the host's filter module does: the host's image shows, crop stays off (the host refuses new
// sizes), and Apply delivers the enhanced image into the planes and asks the program to quit.
// The library maps the channels once per process, so this executable holds a single run.
class tst_LumivexFilterWindow : public QObject
{
    Q_OBJECT

private slots:
    void appliesTheEnhancedImageToTheHost()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        qputenv("TMPDIR", QFile::encodeName(dir.path()));
        FilterHostSession::removeStaleChannels();

        cv::Mat bgr;
        cv::cvtColor(SampleImage::landscape(360, 240), bgr, cv::COLOR_RGB2BGR);
        FilterHostSession host;
        QString error;
        HostSetup setup;
        setup.processName = QStringLiteral("PhotoshopElementsEditor.exe");
        QVERIFY2(host.create(HostImageCodec::fromMat(bgr, false, false), setup, &error), qPrintable(error));
        host.releaseLocks();

        OvIntegrations integrations(QStringList{QStringLiteral("Orvane_Lumivex_PS_Plugin")});
        OvIntercom intercom;
        integrations.setup(qobject_cast<QApplication *>(qApp), &intercom);
        integrations.start();
        LumivexWindow window(&integrations);
        QVERIFY2(window.load(), qPrintable(window.errors().join(QLatin1Char('\n'))));
        QVERIFY(QTest::qWaitForWindowExposed(window.window()));

        ViewController *viewer = window.controller();
        QVERIFY(viewer->filterHost());
        QCOMPARE(viewer->modeText(), QStringLiteral("Filter host: Adobe Photoshop Elements"));
        QTRY_VERIFY_WITH_TIMEOUT(viewer->hasImage(), 20000);
        QCOMPARE(viewer->imageSizeText(), QStringLiteral("360 × 240"));
        QVERIFY(!integrations.resizingSupported());

        viewer->enhance();
        QTRY_VERIFY(viewer->enhanced() && !viewer->busy());
        const cv::Mat delivered = CvUtils::convert(viewer->workingImage()->mat(), CV_8U);
        QSignalSpy done(viewer, &ViewController::deliveredToHost);
        viewer->save();
        QVERIFY(done.wait(20000));
        integrations.cleanup();

        QCOMPARE(int(host.record()->status), int(StatusImageSaved));
        const cv::Mat returned = CvUtils::convert(HostImageCodec::toMat(host.readImage()), CV_8U);
        cv::Mat returnedRgb;
        cv::Mat deliveredRgb;
        cv::cvtColor(returned, returnedRgb, returned.channels() == 4 ? cv::COLOR_BGRA2RGB : cv::COLOR_BGR2RGB);
        // The filter host works with four channels (colour and mask).
        cv::cvtColor(delivered, deliveredRgb, cv::COLOR_RGBA2RGB);
        QVERIFY(cv::norm(returnedRgb, deliveredRgb, cv::NORM_INF) <= 1.0);
        // And it is the enhancement, not the host's own picture coming back.
        QVERIFY(cv::norm(returnedRgb, SampleImage::landscape(360, 240), cv::NORM_L1) / returnedRgb.total() > 10.0);
        host.removeAll();
    }
};

QTEST_MAIN(tst_LumivexFilterWindow)
#include "tst_lumivexfilterwindow.moc"
