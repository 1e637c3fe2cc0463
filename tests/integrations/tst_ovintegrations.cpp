#include "OvIntegrations.h"
#include "OvIntegrationsProbe.h"
#include "PluginData.h"
#include "TestHelpers.h"
#include "imaging/ImageData.h"

#include <QApplication>
#include <QFileOpenEvent>
#include <QMetaEnum>
#include <QMetaMethod>
#include <QMetaProperty>
#ifdef OV_TEST_WITH_QML
#include <QQmlComponent>
#include <QQmlEngine>
#endif
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <opencv2/imgcodecs.hpp>

#include <memory>

namespace {

// Owns a facade and, after it, the back end the facade leaves behind, as the process end would.
class Facade
{
public:
    explicit Facade(const QStringList &args = {QStringLiteral("tst_ovintegrations")})
        : m_facade(new OvIntegrations(args))
    {
        m_backEnd.reset(OvIntegrationsProbe::backEnd(*m_facade));
    }

    OvIntegrations *operator->() const { return m_facade.get(); }
    OvIntegrations *get() const { return m_facade.get(); }
    PluginData *backEnd() const { return m_backEnd.get(); }

private:
    std::unique_ptr<PluginData> m_backEnd; // declared first: destroyed after the facade
    std::unique_ptr<OvIntegrations> m_facade;
};

// One line per signal, invokable, property and enumeration of the class itself, in order.
QStringList contractOf(const QMetaObject &mo)
{
    QStringList lines;
    for (int i = mo.methodOffset(); i < mo.methodCount(); ++i) {
        const QMetaMethod m = mo.method(i);
        QByteArrayList parameters;
        for (int p = 0; p < m.parameterCount(); ++p)
            parameters << m.parameterTypeName(p) + ' ' + m.parameterNames().at(p);
        lines << QString::fromLatin1((m.methodType() == QMetaMethod::Signal ? "signal " : "invokable ")
                                     + QByteArray(m.typeName()) + ' ' + m.name() + '(' + parameters.join(", ") + ')'
                                     + (m.attributes() & QMetaMethod::Cloned ? " [clone]" : ""));
    }
    for (int i = mo.propertyOffset(); i < mo.propertyCount(); ++i) {
        const QMetaProperty p = mo.property(i);
        lines << QString::fromLatin1("property " + QByteArray(p.typeName()) + ' ' + p.name()
                                     + (p.hasNotifySignal() ? " notify " + p.notifySignal().name() : QByteArray())
                                     + (p.isConstant() ? " constant" : "") + (p.isWritable() ? " writable" : ""));
    }
    for (int i = mo.enumeratorOffset(); i < mo.enumeratorCount(); ++i) {
        const QMetaEnum e = mo.enumerator(i);
        QByteArray line = "enum " + QByteArray(e.name());
        for (int k = 0; k < e.keyCount(); ++k)
            line += ' ' + QByteArray(e.key(k)) + '=' + QByteArray::number(e.value(k));
        lines << QString::fromLatin1(line);
    }
    return lines;
}

// Each result signal of the back end and the one facade signal that must carry it on.
struct Relay
{
    const char *backEndSignal;
    const char *facadeSignal;
    QVariantList args;
};

const Relay Relays[] = {
    {"isPluginModeChanged(bool)", "isPluginModeChanged(bool)", {true}},
    {"isLoadingChanged(bool)", "loadingChanged(bool)", {true}},
    // Not the current image, so the description stays and only the relay is emitted.
    {"imageLoaded(QString,QVariantMap)", "pluginImageLoaded(QString,QVariantMap)",
     {QStringLiteral("other"), QVariantMap{{QStringLiteral("name"), QStringLiteral("other")}}}},
    {"imagesAdded(QStringList,bool)", "pluginImagesAdded(QStringList,bool)", {QStringList{"a.tif", "b.tif"}, true}},
    {"imageSaved(QString)", "pluginImageSaved(QString)", {QStringLiteral("out.tif")}},
    {"imageSavingProgress(QString,float)", "pluginImageSavingProgress(QString,float)",
     {QStringLiteral("out.tif"), QVariant::fromValue(0.25f)}},
    {"imageSavingError(QString,QString)", "pluginImageSavingError(QString,QString)",
     {QStringLiteral("out.tif"), QStringLiteral("disk full")}},
    {"trackEvent(QString,QVariantMap)", "trackEvent(QString,QVariantMap)",
     {QStringLiteral("opened"), QVariantMap{{QStringLiteral("count"), 2}}}},
    {"loadingErrorChanged()", "loadingErrorChanged()", {}},
    {"loadingStatusChanged()", "loadingStatusChanged()", {}},
    {"invalidImages(QStringList)", "invalidImages(QStringList)", {QStringList{"bad.txt"}}},
};

QMetaMethod signalOf(const QMetaObject &mo, const char *signature)
{
    return mo.method(mo.indexOfSignal(signature));
}

// Emits from this thread, the way the back end's own code does from the worker thread.
bool emitWith(QObject *sender, const QMetaMethod &signal, const QVariantList &args)
{
    QGenericArgument a[2];
    for (int i = 0; i < args.size(); ++i)
        a[i] = QGenericArgument(args.at(i).typeName(), args.at(i).constData());
    return signal.invoke(sender, Qt::DirectConnection, a[0], a[1]);
}

} // namespace

class tst_OvIntegrations : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void metaObjectContract();
    void qmlModuleHasNoTypes();
    void anythingButTheMarkerIsExternalEditorMode_data();
    void anythingButTheMarkerIsExternalEditorMode();
    void imageLoadedReplacesOnlyTheCurrentDescription();
    void cropsImageAndRawImage_data();
    void cropsImageAndRawImage();
    void eventFilterOnlyAfterSetup();
    void everyResultSignalIsRelayed();
    void relaysEachResultToItsOwnSignal_data();
    void relaysEachResultToItsOwnSignal();
};

// The application binds to these names, types and orders from QML and by index: any change
// breaks it.
void tst_OvIntegrations::metaObjectContract()
{
    const QStringList contract{
        "signal void isPluginModeChanged(bool isPluginMode)",
        "signal void loadingChanged(bool loading)",
        "signal void pluginTypeChanged(PluginType pluginType)",
        "signal void pluginImageLoaded(QString id, QVariantMap imageData)",
        "signal void pluginImagesAdded(QStringList ids, bool mergingInstance)",
        "signal void pluginImageSaved(QString outputPath)",
        "signal void pluginImageSavingProgress(QString outputPath, float progress)",
        "signal void pluginImageSavingError(QString outputPath, QString error)",
        "signal void mergeInstance(QString data)",
        "signal void loadImage(QString id, bool isExportingRaw)",
        "signal void loadImage(QString id) [clone]",
        "signal void saveImage(std::shared_ptr<ImageData> outIm, QString inputPath, QString outputPath, "
        "QVariantMap imageData, QVariantMap saveOptions)",
        "signal void saveSettings(QString id, QVariantMap settings)",
        "signal void trackEvent(QString identifier, QVariantMap params)",
        "signal void loadingErrorChanged()",
        "signal void loadingStatusChanged()",
        "signal void invalidImages(QStringList invalidFiles)",
        "signal void currentImageChanged()",
        "signal void imagedataChanged()",
        "invokable void start()",
        "invokable QVariantMap loadSettings(QString id)",
        "invokable QSize imageSize(QString id)",
        "invokable void setCropRect(QRectF cropRoi)",
        "property bool isPluginMode notify isPluginModeChanged",
        "property OvIntegrations::PluginType pluginType notify pluginTypeChanged",
        "property bool loading notify loadingChanged",
        "property QString loadingError notify loadingErrorChanged",
        "property QString loadingStatus notify loadingStatusChanged",
        "property QString mergableInstanceKey constant",
        "property QString pluginDisplayName constant",
        "property bool resizingSupported constant",
        "property bool isSilent constant",
        "property QString currentImage notify currentImageChanged writable",
        "property QVariantMap imagedata notify imagedataChanged",
        "enum PluginType None=-1 PSFilter=0 CLI=1"};
    QCOMPARE(contractOf(OvIntegrations::staticMetaObject), contract);
}

// Loading the library registers the module: no call of the application's is needed. Without the
// module the import fails with "is not installed" instead.
void tst_OvIntegrations::qmlModuleHasNoTypes()
{
#ifndef OV_TEST_WITH_QML
    QSKIP("this build has no QtQml, so the library declares no QML module");
#else
    QQmlEngine engine;
    QQmlComponent component(&engine);
    component.setData("import QtQml\nimport OvIntegrations 1.0\nOvIntegrations {}", QUrl());
    QVERIFY(component.isError());
    QVERIFY2(component.errorString().contains("is not a type"), qPrintable(component.errorString()));
#endif
}

void tst_OvIntegrations::anythingButTheMarkerIsExternalEditorMode_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("marker with a suffix") << QStringList{QStringLiteral("Orvane_Lumivex_PS_Plugin2")};
    QTest::newRow("marker in second place") << QStringList{QStringLiteral("lumivex"), QStringLiteral("Orvane_Lumivex_PS_Plugin")};
    QTest::newRow("empty list") << QStringList();
}

void tst_OvIntegrations::anythingButTheMarkerIsExternalEditorMode()
{
    // The marker itself is covered by the filter-host runs, which need a real host.
    QFETCH(QStringList, args);
    Facade facade(args);
    QCOMPARE(facade->pluginType(), OvIntegrations::CLI);
    QVERIFY(facade.backEnd()->thread() != QThread::currentThread());
}

void tst_OvIntegrations::imageLoadedReplacesOnlyTheCurrentDescription()
{
    Facade facade;
    QVERIFY(facade->setProperty("currentImage", QStringLiteral("current")));
    QStringList order;
    QVariantMap seenByLoadedHandler;
    QObject::connect(facade.get(), &OvIntegrations::pluginImageLoaded, [&](const QString &id, const QVariantMap &) {
        order << QStringLiteral("pluginImageLoaded ") + id;
        seenByLoadedHandler = facade->imagedata();
    });
    QObject::connect(facade.get(), &OvIntegrations::imagedataChanged, [&] { order << QStringLiteral("imagedataChanged"); });
    // Queued to the facade, as from the worker thread.
    for (const char *id : {"other", "Current", "current"})
        emit facade.backEnd()->imageLoaded(QLatin1String(id), {{QStringLiteral("name"), QLatin1String(id)}});
    QTRY_COMPARE(order.size(), 4);
    QCOMPARE(order, (QStringList{"pluginImageLoaded other", "pluginImageLoaded Current", "pluginImageLoaded current",
                                 "imagedataChanged"}));
    // Handlers of pluginImageLoaded still see the previous description.
    QVERIFY(seenByLoadedHandler.isEmpty());
    QCOMPARE(facade->property("imagedata").toMap().value("name").toString(), QStringLiteral("current"));
}

void tst_OvIntegrations::cropsImageAndRawImage_data()
{
    QTest::addColumn<QRectF>("before");
    QTest::addColumn<QRectF>("rect");
    QTest::addColumn<bool>("withRaw");
    QTest::addColumn<QSize>("imageSize");
    QTest::addColumn<QSize>("rawSize");
    // The image is 200 x 100, its raw rendition 400 x 200.
    const QRectF whole(0, 0, 1, 1);
    const QRectF region(0.25, 0.5, 0.5, 0.5);
    QTest::newRow("region, both") << whole << region << true << QSize(100, 50) << QSize(200, 100);
    QTest::newRow("region, image only") << whole << region << false << QSize(100, 50) << QSize(400, 200);
    QTest::newRow("empty rect restores both") << region << QRectF() << true << QSize(200, 100) << QSize(400, 200);
}

void tst_OvIntegrations::cropsImageAndRawImage()
{
    QFETCH(QRectF, before);
    QFETCH(QRectF, rect);
    QFETCH(bool, withRaw);
    QFETCH(QSize, imageSize);
    QFETCH(QSize, rawSize);

    Facade facade;
    const auto image = std::make_shared<ImageData>(TestHelpers::makePattern(200, 100, CV_16U, 4), cv::Mat());
    const auto raw = std::make_shared<ImageData>(TestHelpers::makePattern(400, 200, CV_16U, 4), cv::Mat());
    image->crop(before);
    QVariantMap description{{QStringLiteral("image"), QVariant::fromValue(image)}};
    if (withRaw) {
        raw->crop(before);
        description.insert(QStringLiteral("rawImage"), QVariant::fromValue(raw));
    }
    QVERIFY(facade->setProperty("currentImage", QStringLiteral("img")));
    QSignalSpy changed(facade.get(), &OvIntegrations::imagedataChanged);
    emit facade.backEnd()->imageLoaded(QStringLiteral("img"), description);
    QVERIFY(changed.wait());

    QVERIFY(QMetaObject::invokeMethod(facade.get(), "setCropRect", Q_ARG(QRectF, rect)));
    QCOMPARE(changed.count(), 2);
    QCOMPARE(image->size(), imageSize);
    QCOMPARE(raw->size(), rawSize);
    QCOMPARE(facade->imagedata(), description);
}

void tst_OvIntegrations::eventFilterOnlyAfterSetup()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString early = dir.filePath(QStringLiteral("early.png"));
    const QString late = dir.filePath(QStringLiteral("late.png"));
    for (const QString &path : {early, late})
        QVERIFY(cv::imwrite(path.toStdString(), TestHelpers::makePattern(8, 8, CV_8U, 3)));

    Facade facade;
    facade->start();
    QSignalSpy added(facade.get(), &OvIntegrations::pluginImagesAdded);
    QFileOpenEvent beforeSetup(early);
    QCoreApplication::sendEvent(qApp, &beforeSetup);
    QCoreApplication::sendPostedEvents();
    QCOMPARE(added.count(), 0);

    facade->setup(qobject_cast<QApplication *>(QCoreApplication::instance()), nullptr);
    QFileOpenEvent afterSetup(late);
    // The back end consumes file-open events, and the facade hands its answer back.
    QVERIFY(QCoreApplication::sendEvent(qApp, &afterSetup));
    QVERIFY(added.wait());
    QCOMPARE(added.at(0), (QVariantList{QStringList{late}, false}));
}


// A result signal added to the back end without a relay would be lost to the application.
void tst_OvIntegrations::everyResultSignalIsRelayed()
{
    const QMetaObject &mo = PluginData::staticMetaObject;
    QStringList signalsOfBackEnd;
    for (int i = mo.methodOffset(); i < mo.methodCount(); ++i) {
        if (mo.method(i).methodType() == QMetaMethod::Signal)
            signalsOfBackEnd << QString::fromLatin1(mo.method(i).methodSignature());
    }
    QStringList relayed;
    for (const Relay &relay : Relays)
        relayed << QLatin1String(relay.backEndSignal);
    QCOMPARE(relayed, signalsOfBackEnd);
}

void tst_OvIntegrations::relaysEachResultToItsOwnSignal_data()
{
    QTest::addColumn<QByteArray>("backEndSignal");
    QTest::addColumn<QByteArray>("facadeSignal");
    QTest::addColumn<QVariantList>("args");
    for (const Relay &relay : Relays)
        QTest::newRow(relay.backEndSignal) << QByteArray(relay.backEndSignal) << QByteArray(relay.facadeSignal) << relay.args;
}

void tst_OvIntegrations::relaysEachResultToItsOwnSignal()
{
    QFETCH(QByteArray, backEndSignal);
    QFETCH(QByteArray, facadeSignal);
    QFETCH(QVariantList, args);
    Facade facade;
    const QMetaObject &mo = OvIntegrations::staticMetaObject;
    std::vector<std::unique_ptr<QSignalSpy>> spies;
    QStringList names;
    for (int i = mo.methodOffset(); i < mo.methodCount(); ++i) {
        if (mo.method(i).methodType() != QMetaMethod::Signal || mo.method(i).attributes() & QMetaMethod::Cloned)
            continue;
        spies.push_back(std::make_unique<QSignalSpy>(facade.get(), mo.method(i)));
        names << QString::fromLatin1(mo.method(i).methodSignature());
    }
    const qsizetype target = names.indexOf(QLatin1String(facadeSignal));
    QVERIFY2(target >= 0, facadeSignal.constData());

    QVERIFY(emitWith(facade.backEnd(), signalOf(PluginData::staticMetaObject, backEndSignal), args));
    QTRY_COMPARE(spies[target]->size(), 1);
    // Whatever else the one emission queued is delivered now, so a second relay shows.
    QCoreApplication::sendPostedEvents();

    QCOMPARE(spies[target]->first(), args);
    for (qsizetype i = 0; i < names.size(); ++i)
        QVERIFY2(i == target ? spies[i]->size() == 1 : spies[i]->isEmpty(), qPrintable(names.at(i)));
}

QTEST_MAIN(tst_OvIntegrations)
#include "tst_ovintegrations.moc"
