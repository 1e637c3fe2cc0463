#include "OvIntegrationsModule.h"

#include <QByteArray>
#include <QFile>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QResource>
#include <QTest>
#include <QtQml/qqml.h>

#include <memory>

namespace {

const QString qmldirPath = QStringLiteral(":/OvIntegrations/qmldir");

// Compiles `source` in a fresh engine; returns the errors, empty when an object was created.
QString compile(const QByteArray &source)
{
    QQmlEngine engine;
    QQmlComponent component(&engine);
    component.setData(source, QUrl());
    if (!component.isReady())
        return QStringLiteral("status %1: ").arg(component.status()) + component.errorString();
    std::unique_ptr<QObject> object(component.create());
    return object ? QString() : QStringLiteral("not created: ") + component.errorString();
}

} // namespace

class tst_OvIntegrationsModule : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void importWorksOnceTheLibraryIsLoaded();
    void qmldirResourceBytes();
    void qmldirResourceIsStoredUncompressed();
    void importFailsForOtherVersions_data();
    void importFailsForOtherVersions();
    void moduleHoldsNoTypes_data();
    void moduleHoldsNoTypes();
    void explicitRegistrationIsHarmless();
};

void tst_OvIntegrationsModule::importWorksOnceTheLibraryIsLoaded()
{
    // No registration call has been made by this test program: the library's static
    // registration alone makes the module importable.
    QCOMPARE(compile("import QtQml\nimport OvIntegrations 1.0\nQtObject {}\n"), QString());
}

void tst_OvIntegrationsModule::qmldirResourceBytes()
{
    QFile qmldir(qmldirPath);
    QVERIFY(qmldir.open(QIODevice::ReadOnly));
    const QByteArray expected = "module OvIntegrations\r\n"
                                "linktarget integrationsplugin\r\n"
                                "optional plugin integrationsplugin\r\n"
                                "classname OvIntegrationsPlugin\r\n"
                                "typeinfo integrations.qmltypes\r\n"
                                "prefer :/OvIntegrations/\r\n"
                                "\r\n";
    QCOMPARE(qmldir.readAll(), expected);
}

void tst_OvIntegrationsModule::qmldirResourceIsStoredUncompressed()
{
    const QResource resource(qmldirPath);
    QVERIFY(resource.isValid());
    QCOMPARE(resource.compressionAlgorithm(), QResource::NoCompression);
    QCOMPARE(resource.size(), qint64(182));
    QCOMPARE(QResource(qmldirPath, QLocale(QLocale::German)).absoluteFilePath(),
             resource.absoluteFilePath());
}

void tst_OvIntegrationsModule::importFailsForOtherVersions_data()
{
    QTest::addColumn<QByteArray>("version");
    QTest::newRow("2.0") << QByteArray("2.0");
    QTest::newRow("1.1") << QByteArray("1.1");
    QTest::newRow("0.9") << QByteArray("0.9");
}

void tst_OvIntegrationsModule::importFailsForOtherVersions()
{
    QFETCH(QByteArray, version);
    const QString errors =
        compile("import QtQml\nimport OvIntegrations " + version + "\nQtObject {}\n");
    // The engine knows the module, only not in this version.
    QVERIFY2(errors.contains(QStringLiteral("module \"OvIntegrations\" version %1 is not installed")
                                 .arg(QString::fromLatin1(version))),
             qPrintable(errors));
}

void tst_OvIntegrationsModule::moduleHoldsNoTypes_data()
{
    QTest::addColumn<QByteArray>("typeName");
    QTest::newRow("OvIntegrations") << QByteArray("OvIntegrations");
    QTest::newRow("PluginData") << QByteArray("PluginData");
    QTest::newRow("OvIntegrationsPlugin") << QByteArray("OvIntegrationsPlugin");
}

void tst_OvIntegrationsModule::moduleHoldsNoTypes()
{
    QFETCH(QByteArray, typeName);
    QCOMPARE(qmlTypeId("OvIntegrations", 1, 0, typeName.constData()), -1);
    const QString errors = compile("import OvIntegrations 1.0\n" + typeName + " {}\n");
    QVERIFY2(errors.contains(QStringLiteral("is not a type")), qPrintable(errors));
}

void tst_OvIntegrationsModule::explicitRegistrationIsHarmless()
{
    qml_register_types_OvIntegrations();
    qml_register_types_OvIntegrations();
    QCOMPARE(compile("import QtQml\nimport OvIntegrations 1.0\nQtObject {}\n"), QString());
}

QTEST_MAIN(tst_OvIntegrationsModule)
#include "tst_ovintegrationsmodule.moc"
