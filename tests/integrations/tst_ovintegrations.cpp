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
#include <QMutex>
#include <QMutexLocker>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <opencv2/imgcodecs.hpp>

#include <functional>
#include <memory>

namespace {

// Owns a facade and, after it, the back end the facade leaves behind, as the process end would.
class Facade
{
public:
    explicit Facade(const QStringList &args = {QStringLiteral("tst_ovintegrations")})
        : m_facade(new OvIntegrations(args))
        , m_backEnd(OvIntegrationsProbe::backEnd(*m_facade))
    {
    }
    ~Facade()
    {
        delete m_facade;
        delete m_backEnd;
    }
    Facade(const Facade &) = delete;
    Facade &operator=(const Facade &) = delete;

    OvIntegrations *operator->() const { return m_facade; }
    OvIntegrations *get() const { return m_facade; }
    PluginData *backEnd() const { return m_backEnd; }

    // Deletes the facade alone, so a test can watch its destructor.
    void destroyFacade()
    {
        delete m_facade;
        m_facade = nullptr;
    }

private:
    OvIntegrations *m_facade;
    PluginData *m_backEnd;
};

// Runs `work` on the thread the back end lives on and returns once it has run there.
void runOnBackEndThread(PluginData *backEnd, const std::function<void()> &work)
{
    QMetaObject::invokeMethod(backEnd, work, Qt::BlockingQueuedConnection);
}

bool emitSignal(QObject *object, const QMetaMethod &signal, const QVariantList &args)
{
    QGenericArgument a[10];
    for (int i = 0; i < args.size(); ++i)
        a[i] = QGenericArgument(args.at(i).typeName(), args.at(i).constData());
    return signal.invoke(object, Qt::DirectConnection, a[0], a[1], a[2], a[3], a[4], a[5], a[6],
                         a[7], a[8], a[9]);
}

QString writePng(const QTemporaryDir &dir, const QString &name, int width, int height)
{
    const QString path = dir.filePath(name);
    cv::imwrite(path.toStdString(), TestHelpers::makePattern(width, height, CV_8U, 3));
    return path;
}

std::shared_ptr<ImageData> makeImage(int width, int height)
{
    return std::make_shared<ImageData>(TestHelpers::makePattern(width, height, CV_16U, 4),
                                       cv::Mat());
}

QVariant handle(const std::shared_ptr<ImageData> &image)
{
    return QVariant::fromValue(image);
}

QMutex logMutex;
QStringList capturedLog;

void captureMessage(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    static const char *const levels[] = {"debug", "warning", "critical", "fatal", "info"};
    QMutexLocker lock(&logMutex);
    capturedLog.append(QString::fromLatin1(levels[type]) + QStringLiteral(": ") + text);
}

// Property flags as the layout table writes them.
enum PropertyFlag {
    Writable = 0x1,
    Constant = 0x2,
};

} // namespace

// Records the thread that emitted a signal it is directly connected to.
class ThreadRecorder : public QObject
{
    Q_OBJECT
public:
    QThread *emittingThread = nullptr;
public Q_SLOTS:
    void record() { emittingThread = QThread::currentThread(); }
};

class tst_OvIntegrations : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void metaObjectLayout_data();
    void metaObjectLayout();
    void metaObjectCounts();
    void metaTypes();
    void modeChoice_data();
    void modeChoice();
    void loadImageCloneEmitsFullRequest();
    void requestsWaitForTheWorkerThread();
    void relaysBackEndSignals_data();
    void relaysBackEndSignals();
    void imageLoadedReplacesOnlyTheCurrentDescription();
    void currentImageWrites();
    void cropsImageAndRawImage_data();
    void cropsImageAndRawImage();
    void cropWithoutImage_data();
    void cropWithoutImage();
    void eventFilterOnlyAfterSetup();
    void destructorStopsWorkerThread_data();
    void destructorStopsWorkerThread();
};

void tst_OvIntegrations::metaObjectLayout_data()
{
    // kind "method": name = signature, type = return type, detail = parameter names,
    //                flags = QMetaMethod::MethodType, cloned marks the default-argument clone.
    // kind "property": name, type, detail = notify signature, flags = PropertyFlag bits.
    // kind "enum": name = key, flags = value.
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("index");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QByteArray>("detail");
    QTest::addColumn<int>("flags");
    QTest::addColumn<bool>("cloned");

    const QString method = QStringLiteral("method");
    const int signal = QMetaMethod::Signal;
    const int invokable = QMetaMethod::Method;
    struct M
    {
        const char *signature;
        const char *returnType;
        const char *parameterNames;
        int type;
        bool cloned;
    };
    const M methods[] = {
        {"isPluginModeChanged(bool)", "void", "isPluginMode", signal, false},
        {"loadingChanged(bool)", "void", "loading", signal, false},
        {"pluginTypeChanged(PluginType)", "void", "pluginType", signal, false},
        {"pluginImageLoaded(QString,QVariantMap)", "void", "id,imageData", signal, false},
        {"pluginImagesAdded(QStringList,bool)", "void", "ids,mergingInstance", signal, false},
        {"pluginImageSaved(QString)", "void", "outputPath", signal, false},
        {"pluginImageSavingProgress(QString,float)", "void", "outputPath,progress", signal, false},
        {"pluginImageSavingError(QString,QString)", "void", "outputPath,error", signal, false},
        {"mergeInstance(QString)", "void", "data", signal, false},
        {"loadImage(QString,bool)", "void", "id,isExportingRaw", signal, false},
        {"loadImage(QString)", "void", "id", signal, true},
        {"saveImage(std::shared_ptr<ImageData>,QString,QString,QVariantMap,QVariantMap)", "void",
         "outIm,inputPath,outputPath,imageData,saveOptions", signal, false},
        {"saveSettings(QString,QVariantMap)", "void", "id,settings", signal, false},
        {"trackEvent(QString,QVariantMap)", "void", "identifier,params", signal, false},
        {"loadingErrorChanged()", "void", "", signal, false},
        {"loadingStatusChanged()", "void", "", signal, false},
        {"invalidImages(QStringList)", "void", "invalidFiles", signal, false},
        {"currentImageChanged()", "void", "", signal, false},
        {"imagedataChanged()", "void", "", signal, false},
        {"start()", "void", "", invokable, false},
        {"loadSettings(QString)", "QVariantMap", "id", invokable, false},
        {"imageSize(QString)", "QSize", "id", invokable, false},
        {"setCropRect(QRectF)", "void", "cropRoi", invokable, false},
    };
    int index = 0;
    for (const M &m : methods) {
        QTest::addRow("method %d %s", index, m.signature)
            << method << index << QByteArray(m.signature) << QByteArray(m.returnType)
            << QByteArray(m.parameterNames) << m.type << m.cloned;
        ++index;
    }

    const QString property = QStringLiteral("property");
    struct P
    {
        const char *name;
        const char *type;
        const char *notify;
        int flags;
    };
    const P properties[] = {
        {"isPluginMode", "bool", "isPluginModeChanged(bool)", 0},
        {"pluginType", "OvIntegrations::PluginType", "pluginTypeChanged(PluginType)", 0},
        {"loading", "bool", "loadingChanged(bool)", 0},
        {"loadingError", "QString", "loadingErrorChanged()", 0},
        {"loadingStatus", "QString", "loadingStatusChanged()", 0},
        {"mergableInstanceKey", "QString", "", Constant},
        {"pluginDisplayName", "QString", "", Constant},
        {"resizingSupported", "bool", "", Constant},
        {"isSilent", "bool", "", Constant},
        {"currentImage", "QString", "currentImageChanged()", Writable},
        {"imagedata", "QVariantMap", "imagedataChanged()", 0},
    };
    index = 0;
    for (const P &p : properties) {
        QTest::addRow("property %d %s", index, p.name)
            << property << index << QByteArray(p.name) << QByteArray(p.type)
            << QByteArray(p.notify) << p.flags << false;
        ++index;
    }

    const QString enumKey = QStringLiteral("enum");
    QTest::addRow("enum None") << enumKey << 0 << QByteArray("None") << QByteArray("PluginType")
                               << QByteArray() << -1 << false;
    QTest::addRow("enum PSFilter") << enumKey << 1 << QByteArray("PSFilter")
                                   << QByteArray("PluginType") << QByteArray() << 0 << false;
    QTest::addRow("enum CLI") << enumKey << 2 << QByteArray("CLI") << QByteArray("PluginType")
                              << QByteArray() << 1 << false;
}

void tst_OvIntegrations::metaObjectLayout()
{
    QFETCH(QString, kind);
    QFETCH(int, index);
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, type);
    QFETCH(QByteArray, detail);
    QFETCH(int, flags);
    QFETCH(bool, cloned);

    const QMetaObject &mo = OvIntegrations::staticMetaObject;
    if (kind == QLatin1String("method")) {
        const QMetaMethod m = mo.method(mo.methodOffset() + index);
        QCOMPARE(m.methodSignature(), name);
        QCOMPARE(m.methodIndex() - mo.methodOffset(), index);
        QCOMPARE(QByteArray(m.typeName()), type);
        QCOMPARE(m.parameterNames(), detail.isEmpty() ? QList<QByteArray>() : detail.split(','));
        QCOMPARE(int(m.methodType()), flags);
        QCOMPARE(m.access(), QMetaMethod::Public);
        QCOMPARE(bool(m.attributes() & QMetaMethod::Cloned), cloned);
    } else if (kind == QLatin1String("property")) {
        const QMetaProperty p = mo.property(mo.propertyOffset() + index);
        QCOMPARE(QByteArray(p.name()), name);
        QCOMPARE(QByteArray(p.typeName()), type);
        QVERIFY(p.isReadable());
        QVERIFY(p.isDesignable());
        QVERIFY(p.isScriptable());
        QVERIFY(p.isStored());
        QVERIFY(!p.isUser());
        QVERIFY(!p.isResettable());
        QVERIFY(!p.isFinal());
        QCOMPARE(p.isWritable(), bool(flags & Writable));
        QCOMPARE(p.isConstant(), bool(flags & Constant));
        QCOMPARE(p.hasNotifySignal(), !detail.isEmpty());
        QCOMPARE(p.notifySignal().methodSignature(), detail);
    } else {
        QCOMPARE(mo.enumeratorCount() - mo.enumeratorOffset(), 1);
        const QMetaEnum e = mo.enumerator(mo.enumeratorOffset());
        QCOMPARE(QByteArray(e.name()), type);
        QVERIFY(!e.isFlag());
        QVERIFY(!e.isScoped());
        QCOMPARE(QByteArray(e.key(index)), name);
        QCOMPARE(e.value(index), flags);
    }
}

void tst_OvIntegrations::metaObjectCounts()
{
    const QMetaObject &mo = OvIntegrations::staticMetaObject;
    QCOMPARE(QByteArray(mo.className()), QByteArray("OvIntegrations"));
    QCOMPARE(mo.superClass(), &QObject::staticMetaObject);
    QCOMPARE(mo.methodCount() - mo.methodOffset(), 23);
    QCOMPARE(mo.propertyCount() - mo.propertyOffset(), 11);
    QCOMPARE(mo.enumeratorCount() - mo.enumeratorOffset(), 1);
    QCOMPARE(mo.classInfoCount() - mo.classInfoOffset(), 0);
    QCOMPARE(mo.constructorCount(), 0);
}

void tst_OvIntegrations::metaTypes()
{
    const QMetaType pluginType = QMetaType::fromType<OvIntegrations::PluginType>();
    QCOMPARE(QByteArray(pluginType.name()), QByteArray("OvIntegrations::PluginType"));
    QVERIFY(pluginType.flags().testFlag(QMetaType::IsEnumeration));
    QCOMPARE(pluginType.sizeOf(), 4);

    const QMetaMethod saveImage = OvIntegrations::staticMetaObject.method(
        OvIntegrations::staticMetaObject.methodOffset() + 11);
    QCOMPARE(QByteArray(saveImage.parameterMetaType(0).name()),
             QByteArray("std::shared_ptr<ImageData>"));
    QCOMPARE(saveImage.parameterMetaType(0), QMetaType::fromType<std::shared_ptr<ImageData>>());
}

void tst_OvIntegrations::modeChoice_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("program path") << QStringList{QStringLiteral("/opt/lumivex/bin/lumivex")};
    QTest::newRow("marker in lower case") << QStringList{QStringLiteral("orvane_lumivex_ps_plugin")};
    QTest::newRow("marker in upper case") << QStringList{QStringLiteral("ORVANE_LUMIVEX_PS_PLUGIN")};
    QTest::newRow("marker with a suffix") << QStringList{QStringLiteral("Orvane_Lumivex_PS_Plugin2")};
    QTest::newRow("marker with a blank before")
        << QStringList{QStringLiteral(" Orvane_Lumivex_PS_Plugin")};
    QTest::newRow("marker in second place")
        << QStringList{QStringLiteral("lumivex"), QStringLiteral("Orvane_Lumivex_PS_Plugin")};
    QTest::newRow("empty list") << QStringList();
}

void tst_OvIntegrations::modeChoice()
{
    // The marker itself is covered by the filter-host run, which needs a real host.
    QFETCH(QStringList, args);
    Facade facade(args);
    QCOMPARE(facade->pluginType(), OvIntegrations::CLI);
    QCOMPARE(facade->property("pluginType").value<OvIntegrations::PluginType>(),
             OvIntegrations::CLI);
    // Only the external-editor back end supports resizing.
    QVERIFY(facade->resizingSupported());
    QVERIFY(!facade->isSilent());
    QVERIFY(facade.backEnd()->thread() != QThread::currentThread());
    QCOMPARE(facade.backEnd()->parent(), nullptr);
}

void tst_OvIntegrations::loadImageCloneEmitsFullRequest()
{
    Facade facade;
    QSignalSpy full(facade.get(), &OvIntegrations::loadImage);

    const QMetaMethod clone = OvIntegrations::staticMetaObject.method(
        OvIntegrations::staticMetaObject.methodOffset() + 10);
    QVERIFY(clone.invoke(facade.get(), Qt::DirectConnection, Q_ARG(QString, QStringLiteral("a"))));
    QVERIFY(QMetaObject::invokeMethod(facade.get(), "loadImage", Q_ARG(QString, QStringLiteral("b"))));
    emit facade->loadImage(QStringLiteral("c"));
    emit facade->loadImage(QStringLiteral("d"), true);

    QCOMPARE(full.count(), 4);
    QCOMPARE(full.at(0), (QVariantList{QStringLiteral("a"), false}));
    QCOMPARE(full.at(1), (QVariantList{QStringLiteral("b"), false}));
    QCOMPARE(full.at(2), (QVariantList{QStringLiteral("c"), false}));
    QCOMPARE(full.at(3), (QVariantList{QStringLiteral("d"), true}));
}

void tst_OvIntegrations::requestsWaitForTheWorkerThread()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = writePng(dir, QStringLiteral("merged.png"), 8, 8);

    Facade facade;
    QSignalSpy added(facade.get(), &OvIntegrations::pluginImagesAdded);
    emit facade->mergeInstance(path);
    QCoreApplication::sendPostedEvents();
    // The merge is queued to the back end's thread, which does not run before start().
    QVERIFY(facade->getDataForMerging().isEmpty());
    QCOMPARE(added.count(), 0);

    facade->start();
    QVERIFY(added.wait());
    QCOMPARE(added.at(0).at(0).toStringList(), QStringList{path});
}

void tst_OvIntegrations::relaysBackEndSignals_data()
{
    QTest::addColumn<QByteArray>("backEndSignal");
    QTest::addColumn<QByteArray>("facadeSignal");
    QTest::addColumn<QVariantList>("args");
    QTest::addColumn<bool>("automatic");

    const QString out = QStringLiteral("/tmp/out.png");
    QTest::newRow("isPluginModeChanged")
        << QByteArray("isPluginModeChanged(bool)") << QByteArray("isPluginModeChanged(bool)")
        << QVariantList{true} << true;
    QTest::newRow("isLoadingChanged") << QByteArray("isLoadingChanged(bool)")
                                      << QByteArray("loadingChanged(bool)") << QVariantList{true}
                                      << true;
    QTest::newRow("imageSaved") << QByteArray("imageSaved(QString)")
                                << QByteArray("pluginImageSaved(QString)") << QVariantList{out}
                                << false;
    QTest::newRow("imageLoaded")
        << QByteArray("imageLoaded(QString,QVariantMap)")
        << QByteArray("pluginImageLoaded(QString,QVariantMap)")
        << QVariantList{QStringLiteral("other"), QVariantMap{{QStringLiteral("width"), 3}}}
        << false;
    QTest::newRow("imagesAdded")
        << QByteArray("imagesAdded(QStringList,bool)")
        << QByteArray("pluginImagesAdded(QStringList,bool)")
        << QVariantList{QStringList{QStringLiteral("a"), QStringLiteral("b")}, true} << false;
    QTest::newRow("imageSavingProgress")
        << QByteArray("imageSavingProgress(QString,float)")
        << QByteArray("pluginImageSavingProgress(QString,float)")
        << QVariantList{out, QVariant::fromValue(0.5f)} << false;
    QTest::newRow("imageSavingError")
        << QByteArray("imageSavingError(QString,QString)")
        << QByteArray("pluginImageSavingError(QString,QString)")
        << QVariantList{out, QStringLiteral("disk full")} << false;
    QTest::newRow("trackEvent")
        << QByteArray("trackEvent(QString,QVariantMap)")
        << QByteArray("trackEvent(QString,QVariantMap)")
        << QVariantList{QStringLiteral("CLI Plugin Info"),
                        QVariantMap{{QStringLiteral("fileCount"), 2}}}
        << false;
    QTest::newRow("loadingErrorChanged") << QByteArray("loadingErrorChanged()")
                                         << QByteArray("loadingErrorChanged()") << QVariantList{}
                                         << false;
    QTest::newRow("loadingStatusChanged") << QByteArray("loadingStatusChanged()")
                                          << QByteArray("loadingStatusChanged()")
                                          << QVariantList{} << false;
    QTest::newRow("invalidImages") << QByteArray("invalidImages(QStringList)")
                                   << QByteArray("invalidImages(QStringList)")
                                   << QVariantList{QStringList{QStringLiteral("notes.txt")}}
                                   << false;
}

void tst_OvIntegrations::relaysBackEndSignals()
{
    QFETCH(QByteArray, backEndSignal);
    QFETCH(QByteArray, facadeSignal);
    QFETCH(QVariantList, args);
    QFETCH(bool, automatic);

    Facade facade;
    facade->start();
    PluginData *backEnd = facade.backEnd();
    const QMetaMethod from = backEnd->metaObject()->method(
        backEnd->metaObject()->indexOfSignal(backEndSignal));
    const QMetaMethod to = OvIntegrations::staticMetaObject.method(
        OvIntegrations::staticMetaObject.indexOfSignal(facadeSignal));
    QVERIFY(from.isValid());
    QVERIFY(to.isValid());

    QSignalSpy spy(facade.get(), to);
    ThreadRecorder recorder;
    QVERIFY(QObject::connect(facade.get(), to, &recorder,
                             recorder.metaObject()->method(
                                 recorder.metaObject()->indexOfSlot("record()")),
                             Qt::DirectConnection));

    // Emitted on the worker thread, every relay reaches the GUI thread as a queued call.
    bool emitted = false;
    runOnBackEndThread(backEnd, [&] { emitted = emitSignal(backEnd, from, args); });
    QVERIFY(emitted);
    QCOMPARE(spy.count(), 0);
    QVERIFY(spy.wait());
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0), args);
    QCOMPARE(recorder.emittingThread, QThread::currentThread());

    // Emitted on the GUI thread, the automatic connections turn direct; the others stay queued.
    spy.clear();
    QVERIFY(emitSignal(backEnd, from, args));
    QCOMPARE(spy.count(), automatic ? 1 : 0);
    if (!automatic)
        QVERIFY(spy.wait());
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0), args);
}

void tst_OvIntegrations::imageLoadedReplacesOnlyTheCurrentDescription()
{
    Facade facade;
    facade->start();
    PluginData *backEnd = facade.backEnd();
    QVERIFY(facade->setProperty("currentImage", QStringLiteral("current")));

    QStringList order;
    QVariantMap seenByLoadedHandler;
    QVariantMap seenByChangedHandler;
    QObject::connect(facade.get(), &OvIntegrations::pluginImageLoaded,
                     [&](const QString &id, const QVariantMap &) {
                         order << QStringLiteral("pluginImageLoaded ") + id;
                         seenByLoadedHandler = facade->imagedata();
                     });
    QObject::connect(facade.get(), &OvIntegrations::imagedataChanged,
                     [&] {
                         order << QStringLiteral("imagedataChanged");
                         seenByChangedHandler = facade->imagedata();
                     });

    const QVariantMap other{{QStringLiteral("name"), QStringLiteral("other")}};
    const QVariantMap first{{QStringLiteral("name"), QStringLiteral("first")}};
    const QVariantMap second{{QStringLiteral("name"), QStringLiteral("second")}};

    runOnBackEndThread(backEnd, [&] { emit backEnd->imageLoaded(QStringLiteral("other"), other); });
    QTRY_COMPARE(order.size(), 1);
    QCOMPARE(order, QStringList{QStringLiteral("pluginImageLoaded other")});
    QVERIFY(facade->imagedata().isEmpty());

    order.clear();
    runOnBackEndThread(backEnd, [&] { emit backEnd->imageLoaded(QStringLiteral("current"), first); });
    QTRY_COMPARE(order.size(), 2);
    QCOMPARE(order, (QStringList{QStringLiteral("pluginImageLoaded current"),
                                 QStringLiteral("imagedataChanged")}));
    QVERIFY(seenByLoadedHandler.isEmpty());
    QCOMPARE(seenByChangedHandler, first);
    QCOMPARE(facade->imagedata(), first);
    QCOMPARE(facade->property("imagedata").toMap(), first);

    order.clear();
    runOnBackEndThread(backEnd, [&] { emit backEnd->imageLoaded(QStringLiteral("Current"), other); });
    runOnBackEndThread(backEnd, [&] { emit backEnd->imageLoaded(QStringLiteral("current"), second); });
    QTRY_COMPARE(order.size(), 3);
    QCOMPARE(order, (QStringList{QStringLiteral("pluginImageLoaded Current"),
                                 QStringLiteral("pluginImageLoaded current"),
                                 QStringLiteral("imagedataChanged")}));
    QCOMPARE(seenByLoadedHandler, first);
    QCOMPARE(seenByChangedHandler, second);
    QCOMPARE(facade->imagedata(), second);
}

void tst_OvIntegrations::currentImageWrites()
{
    Facade facade;
    QSignalSpy changed(facade.get(), &OvIntegrations::currentImageChanged);
    QSignalSpy dataChanged(facade.get(), &OvIntegrations::imagedataChanged);

    QVERIFY(facade->property("currentImage").toString().isEmpty());
    QVERIFY(facade->setProperty("currentImage", QStringLiteral("a")));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(facade->property("currentImage").toString(), QStringLiteral("a"));
    QVERIFY(facade->setProperty("currentImage", QStringLiteral("a")));
    QCOMPARE(changed.count(), 1);
    QVERIFY(facade->setProperty("currentImage", QStringLiteral("b")));
    QCOMPARE(changed.count(), 2);
    QCOMPARE(facade->property("currentImage").toString(), QStringLiteral("b"));
    QCOMPARE(dataChanged.count(), 0);
    QVERIFY(facade->imagedata().isEmpty());
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
    QTest::newRow("region, image only")
        << whole << region << false << QSize(100, 50) << QSize(400, 200);
    QTest::newRow("empty rect restores both")
        << region << QRectF() << true << QSize(200, 100) << QSize(400, 200);
    QTest::newRow("zero width restores")
        << region << QRectF(0.1, 0.1, 0, 0.5) << true << QSize(200, 100) << QSize(400, 200);
    QTest::newRow("negative height restores")
        << region << QRectF(0.1, 0.5, 0.5, -0.2) << true << QSize(200, 100) << QSize(400, 200);
    QTest::newRow("crops replace each other")
        << QRectF(0, 0, 0.1, 0.1) << QRectF(0.5, 0, 0.5, 1) << true << QSize(100, 100)
        << QSize(200, 200);
}

void tst_OvIntegrations::cropsImageAndRawImage()
{
    QFETCH(QRectF, before);
    QFETCH(QRectF, rect);
    QFETCH(bool, withRaw);
    QFETCH(QSize, imageSize);
    QFETCH(QSize, rawSize);

    Facade facade;
    const auto image = makeImage(200, 100);
    const auto raw = makeImage(400, 200);
    image->crop(before);
    if (withRaw)
        raw->crop(before);
    QVariantMap description{{QStringLiteral("image"), handle(image)},
                            {QStringLiteral("name"), QStringLiteral("kept")}};
    if (withRaw)
        description.insert(QStringLiteral("rawImage"), handle(raw));

    QVERIFY(facade->setProperty("currentImage", QStringLiteral("img")));
    QSignalSpy changed(facade.get(), &OvIntegrations::imagedataChanged);
    emit facade.backEnd()->imageLoaded(QStringLiteral("img"), description);
    QVERIFY(changed.wait());
    changed.clear();

    QVERIFY(QMetaObject::invokeMethod(facade.get(), "setCropRect", Q_ARG(QRectF, rect)));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(image->size(), imageSize);
    QCOMPARE(raw->size(), rawSize);
    // The crop acts on the shared images; the description keeps the same handles.
    QCOMPARE(facade->imagedata().value(QStringLiteral("image")).value<std::shared_ptr<ImageData>>(),
             image);
    QCOMPARE(facade->imagedata(), description);
}

void tst_OvIntegrations::cropWithoutImage_data()
{
    QTest::addColumn<bool>("load");
    QTest::addColumn<QVariantMap>("description");
    QTest::addColumn<bool>("rawCropped");

    QTest::newRow("nothing loaded") << false << QVariantMap() << false;
    QTest::newRow("no image key")
        << true << QVariantMap{{QStringLiteral("name"), QStringLiteral("x")}} << false;
    QTest::newRow("image holds no handle")
        << true << QVariantMap{{QStringLiteral("image"), QStringLiteral("not an image")}} << false;
    QTest::newRow("raw image alone") << true << QVariantMap() << true;
}

void tst_OvIntegrations::cropWithoutImage()
{
    QFETCH(bool, load);
    QFETCH(QVariantMap, description);
    QFETCH(bool, rawCropped);

    Facade facade;
    const auto raw = makeImage(40, 20);
    if (rawCropped)
        description.insert(QStringLiteral("rawImage"), handle(raw));
    QSignalSpy changed(facade.get(), &OvIntegrations::imagedataChanged);
    if (load) {
        QVERIFY(facade->setProperty("currentImage", QStringLiteral("img")));
        emit facade.backEnd()->imageLoaded(QStringLiteral("img"), description);
        QVERIFY(changed.wait());
        changed.clear();
    }

    facade->setCropRect(QRectF(0, 0, 0.5, 0.5));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(raw->size(), rawCropped ? QSize(20, 10) : QSize(40, 20));
    QCOMPARE(facade->imagedata(), description);
}

void tst_OvIntegrations::eventFilterOnlyAfterSetup()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString early = writePng(dir, QStringLiteral("early.png"), 8, 8);
    const QString late = writePng(dir, QStringLiteral("late.png"), 8, 8);

    Facade facade;
    facade->start();
    QSignalSpy added(facade.get(), &OvIntegrations::pluginImagesAdded);

    QFileOpenEvent beforeSetup(early);
    QCoreApplication::sendEvent(qApp, &beforeSetup);
    QCoreApplication::sendPostedEvents();
    QCOMPARE(added.count(), 0);

    auto *app = qobject_cast<QApplication *>(QCoreApplication::instance());
    QVERIFY(app);
    facade->setup(app, nullptr);
    QFileOpenEvent afterSetup(late);
    // The back end consumes file-open events, and the facade hands its answer back.
    QVERIFY(QCoreApplication::sendEvent(qApp, &afterSetup));
    QVERIFY(added.wait());
    QCOMPARE(added.count(), 1);
    QCOMPARE(added.at(0), (QVariantList{QStringList{late}, false}));

    QEvent other(QEvent::User);
    QVERIFY(!facade->eventFilter(qApp, &other));
}

void tst_OvIntegrations::destructorStopsWorkerThread_data()
{
    QTest::addColumn<bool>("started");
    QTest::newRow("never started") << false;
    QTest::newRow("started") << true;
}

void tst_OvIntegrations::destructorStopsWorkerThread()
{
    QFETCH(bool, started);
    Facade facade;
    if (started)
        facade->start();
    PluginData *backEnd = facade.backEnd();
    QCOMPARE(backEnd->thread()->isRunning(), started);
    // The facade leaves its back end alive; only the process end (here: Facade) releases it.
    bool backEndDestroyed = false;
    QObject watchScope;
    QObject::connect(backEnd, &QObject::destroyed, &watchScope, [&] { backEndDestroyed = true; });

    {
        QMutexLocker lock(&logMutex);
        capturedLog.clear();
    }
    const QtMessageHandler previous = qInstallMessageHandler(captureMessage);
    facade.destroyFacade();
    qInstallMessageHandler(previous);

    QMutexLocker lock(&logMutex);
    QCOMPARE(capturedLog, (QStringList{QStringLiteral("info: Stopping OvIntegrations worker thread"),
                                       QStringLiteral("info: OvIntegrations worker thread stopped")}));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!backEndDestroyed);
}

QTEST_MAIN(tst_OvIntegrations)
#include "tst_ovintegrations.moc"
