#include "OvIntegrations.h"
#include "OvIntegrationsProbe.h"
#include "PluginData.h"
#include "TestHelpers.h"
#include "imaging/ImageData.h"

#include <QApplication>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <opencv2/imgcodecs.hpp>

#include <memory>

namespace {

// Loading goes through ExifTool and the reader thread: generous, but only ever waited out on failure.
constexpr int loadTimeoutMs = 60000;

QString writePng(const QTemporaryDir &dir, const QString &name, int width, int height)
{
    const QString path = dir.filePath(name);
    cv::imwrite(path.toStdString(), TestHelpers::makePattern(width, height, CV_8U, 3));
    return path;
}

std::shared_ptr<ImageData> imageOf(const QVariantMap &description)
{
    return description.value(QStringLiteral("image")).value<std::shared_ptr<ImageData>>();
}

} // namespace

// One external-editor launch through the facade, with real files: start, announce, load, crop,
// save, clean up.
class tst_FacadeCliRun : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void externalEditorRun();
};

void tst_FacadeCliRun::externalEditorRun()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString first = writePng(dir, QStringLiteral("first.png"), 64, 32);
    const QString second = writePng(dir, QStringLiteral("second.png"), 20, 10);
    const QString notes = dir.filePath(QStringLiteral("notes.txt"));
    {
        QFile file(notes);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not an image");
    }
    const QString result = dir.filePath(QStringLiteral("result.png"));

    auto *facade = new OvIntegrations({QStringLiteral("lumivex"),
                                       QStringLiteral("--editor=Test Editor"), first, second,
                                       notes});
    std::unique_ptr<PluginData> backEnd(OvIntegrationsProbe::backEnd(*facade));
    std::unique_ptr<OvIntegrations> owner(facade);

    QCOMPARE(facade->pluginType(), OvIntegrations::CLI);
    QVERIFY(facade->isPluginMode());
    QCOMPARE(facade->pluginDisplayName(), QStringLiteral("Test Editor"));
    QCOMPARE(facade->mergableInstanceKey(), QStringLiteral("Test Editor"));
    QVERIFY(facade->resizingSupported());
    QVERIFY(!facade->isSilent());
    QVERIFY(facade->canMergeInstance());
    QCOMPARE(facade->getDataForMerging(), first + QStringLiteral("::") + second);
    QCOMPARE(facade->loadSettings(first), (QVariantMap{{QStringLiteral("version"), 0}}));

    QSignalSpy added(facade, &OvIntegrations::pluginImagesAdded);
    QSignalSpy invalid(facade, &OvIntegrations::invalidImages);
    QSignalSpy tracked(facade, &OvIntegrations::trackEvent);
    QSignalSpy loadingChanged(facade, &OvIntegrations::loadingChanged);
    QSignalSpy loaded(facade, &OvIntegrations::pluginImageLoaded);
    QSignalSpy dataChanged(facade, &OvIntegrations::imagedataChanged);
    QSignalSpy saved(facade, &OvIntegrations::pluginImageSaved);
    QSignalSpy savingError(facade, &OvIntegrations::pluginImageSavingError);

    facade->setup(qobject_cast<QApplication *>(QCoreApplication::instance()), nullptr);
    facade->start();
    QTRY_COMPARE(added.count(), 1);
    QCOMPARE(added.at(0), (QVariantList{QStringList{first, second}, false}));
    QTRY_COMPARE(invalid.count(), 1);
    QCOMPARE(invalid.at(0).at(0).toStringList(), QStringList{notes});
    QTRY_COMPARE(tracked.count(), 1);
    QCOMPARE(tracked.at(0).at(0).toString(), QStringLiteral("CLI Plugin Info"));
    const QVariantMap info = tracked.at(0).at(1).toMap();
    QCOMPARE(info.value(QStringLiteral("externalEditor")).toString(), QStringLiteral("Test Editor"));
    QCOMPARE(info.value(QStringLiteral("fileCount")).toInt(), 2);
    QVERIFY(facade->getDataForMerging().isEmpty());

    // The user interface shows the first image and asks for it by its one-argument request.
    QVERIFY(facade->setProperty("currentImage", first));
    QVERIFY(QMetaObject::invokeMethod(facade, "loadImage", Q_ARG(QString, first)));
    QTRY_COMPARE_WITH_TIMEOUT(loaded.count(), 1, loadTimeoutMs);
    QCOMPARE(loaded.at(0).at(0).toString(), first);
    QTRY_VERIFY(!loadingChanged.isEmpty() && !loadingChanged.last().at(0).toBool());
    QCOMPARE(loadingChanged.first().at(0).toBool(), true);
    QVERIFY(!facade->loading());
    QVERIFY(facade->loadingError().isEmpty());
    QCOMPARE(dataChanged.count(), 1);
    QCOMPARE(facade->imagedata(), loaded.at(0).at(1).toMap());
    const std::shared_ptr<ImageData> image = imageOf(facade->imagedata());
    QVERIFY(image);
    QCOMPARE(image->size(), QSize(64, 32));
    QCOMPARE(facade->imageSize(first), QSize(64, 32));
    QCOMPARE(facade->imageSize(second), QSize(20, 10));

    facade->setCropRect(QRectF(0.5, 0, 0.5, 0.5));
    QCOMPARE(dataChanged.count(), 2);
    QCOMPARE(image->size(), QSize(32, 16));
    QCOMPARE(facade->imageSize(first), QSize(64, 32));

    emit facade->saveImage(image, first, result, facade->imagedata(), QVariantMap());
    QTRY_COMPARE_WITH_TIMEOUT(saved.count() + savingError.count(), 1, loadTimeoutMs);
    QCOMPARE(savingError.count(), 0);
    QCOMPARE(saved.at(0).at(0).toString(), result);
    const cv::Mat written = cv::imread(result.toStdString(), cv::IMREAD_UNCHANGED);
    QCOMPARE(written.cols, 32);
    QCOMPARE(written.rows, 16);

    facade->cleanup();
    QCOMPARE(facade->pluginType(), OvIntegrations::CLI);
    QVERIFY(facade->isPluginMode());
}

QTEST_MAIN(tst_FacadeCliRun)
#include "tst_facadeclirun.moc"
