#include "PluginData.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMetaMethod>
#include <QSignalSpy>
#include <QTest>

namespace {

// Implements only what PluginData leaves pure, so every other answer is the base's default.
class MinimalBackEnd : public PluginData
{
public:
    void loadImage(const QString &id, bool isExportingRaw) override
    {
        lastLoad = qMakePair(id, isExportingRaw);
    }
    void saveImage(const std::shared_ptr<ImageData> &, const QString &, const QString &,
                   const QVariantMap &, const QVariantMap &) override {}
    QVariantMap loadSettings(const QString &) override { return {}; }
    void saveSettings(const QString &, const QVariantMap &) override {}
    QString getMergableInstanceKey() const override { return QStringLiteral("key"); }
    QString getPluginDisplayName() const override { return QStringLiteral("name"); }
    bool isResizingSupported() const override { return false; }
    bool isSilent() const override { return false; }
    QSize imageSize(const QString &) override { return {}; }

    QPair<QString, bool> lastLoad;
};

} // namespace

class tst_PluginData : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void defaults();
    void letsEveryEventThrough_data();
    void letsEveryEventThrough();
    void metaObjectLayout_data();
    void metaObjectLayout();
    void methodCounts();
    void imageHandleMetaType();
    void invokableLoadImage();
};

void tst_PluginData::defaults()
{
    MinimalBackEnd backEnd;
    QCOMPARE(backEnd.parent(), nullptr);
    QVERIFY(backEnd.isPluginMode());
    QVERIFY(!backEnd.isLoading());
    QVERIFY(backEnd.loadingError().isEmpty());
    QVERIFY(backEnd.loadingStatus().isEmpty());
    QVERIFY(backEnd.getDataForMerging().isEmpty());
    QVERIFY(backEnd.canMergeInstance());

    QSignalSpy added(&backEnd, &PluginData::imagesAdded);
    backEnd.mergeInstance(QStringLiteral("a::b"));
    backEnd.setup(nullptr, nullptr);
    backEnd.start();
    backEnd.cleanup();
    QCOMPARE(added.count(), 0);
}

void tst_PluginData::letsEveryEventThrough_data()
{
    QTest::addColumn<int>("type");
    QTest::newRow("file open") << int(QEvent::FileOpen);
    QTest::newRow("drop") << int(QEvent::Drop);
    QTest::newRow("close") << int(QEvent::Close);
    QTest::newRow("user") << int(QEvent::User);
}

void tst_PluginData::letsEveryEventThrough()
{
    QFETCH(int, type);
    MinimalBackEnd backEnd;
    QEvent event(static_cast<QEvent::Type>(type));
    QVERIFY(!backEnd.eventFilter(&backEnd, &event));
}

void tst_PluginData::metaObjectLayout_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QByteArray>("signature");
    QTest::addColumn<int>("methodType");

    const int sig = int(QMetaMethod::Signal);
    const int inv = int(QMetaMethod::Method);
    const QList<QPair<QByteArray, int>> rows = {
        {"isPluginModeChanged(bool)", sig},
        {"isLoadingChanged(bool)", sig},
        {"imageLoaded(QString,QVariantMap)", sig},
        {"imagesAdded(QStringList,bool)", sig},
        {"imageSaved(QString)", sig},
        {"imageSavingProgress(QString,float)", sig},
        {"imageSavingError(QString,QString)", sig},
        {"trackEvent(QString,QVariantMap)", sig},
        {"loadingErrorChanged()", sig},
        {"loadingStatusChanged()", sig},
        {"invalidImages(QStringList)", sig},
        {"loadImage(QString,bool)", inv},
        {"saveImage(std::shared_ptr<ImageData>,QString,QString,QVariantMap,QVariantMap)", inv},
        {"loadSettings(QString)", inv},
        {"saveSettings(QString,QVariantMap)", inv},
        {"getMergableInstanceKey()", inv},
        {"getPluginDisplayName()", inv},
        {"isResizingSupported()", inv},
        {"isSilent()", inv},
        {"isPluginMode()", inv},
        {"isLoading()", inv},
        {"loadingError()", inv},
        {"loadingStatus()", inv},
        {"canMergeInstance()", inv},
        {"getDataForMerging()", inv},
        {"mergeInstance(QString)", inv},
        {"imageSize(QString)", inv},
    };
    for (int i = 0; i < rows.size(); ++i)
        QTest::addRow("%d %s", i, rows[i].first.constData()) << i << rows[i].first << rows[i].second;
}

void tst_PluginData::metaObjectLayout()
{
    QFETCH(int, index);
    QFETCH(QByteArray, signature);
    QFETCH(int, methodType);

    const QMetaObject &meta = PluginData::staticMetaObject;
    const QMetaMethod method = meta.method(meta.methodOffset() + index);
    QCOMPARE(method.methodSignature(), signature);
    QCOMPARE(int(method.methodType()), methodType);
}

void tst_PluginData::methodCounts()
{
    const QMetaObject &meta = PluginData::staticMetaObject;
    QCOMPARE(QByteArray(meta.className()), QByteArray("PluginData"));
    QCOMPARE(meta.methodCount() - meta.methodOffset(), 27);
    QCOMPARE(meta.propertyCount() - meta.propertyOffset(), 0);
    QCOMPARE(meta.enumeratorCount() - meta.enumeratorOffset(), 0);
}

void tst_PluginData::imageHandleMetaType()
{
    const QMetaType type = QMetaType::fromType<std::shared_ptr<ImageData>>();
    QCOMPARE(QByteArray(type.name()), QByteArray("std::shared_ptr<ImageData>"));
    QVERIFY(type.id() > 0); // registers the name, as the first queued call carrying it does
    QCOMPARE(QMetaType::fromName("std::shared_ptr<ImageData>"), type);

    // A description entry holding something else gives an empty pointer to its readers.
    const QVariantMap description{{QStringLiteral("image"), QStringLiteral("not an image")}};
    QVERIFY(!description.value(QStringLiteral("image")).value<std::shared_ptr<ImageData>>());
    QVERIFY(!description.value(QStringLiteral("rawImage")).value<std::shared_ptr<ImageData>>());
}

void tst_PluginData::invokableLoadImage()
{
    MinimalBackEnd backEnd;
    QVERIFY(QMetaObject::invokeMethod(&backEnd, "loadImage", Q_ARG(QString, QStringLiteral("one")),
                                      Q_ARG(bool, true)));
    QCOMPARE(backEnd.lastLoad, qMakePair(QStringLiteral("one"), true));
}

QTEST_GUILESS_MAIN(tst_PluginData)
#include "tst_plugindata.moc"
