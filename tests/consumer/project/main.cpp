// Uses the installed library the way an application does: one OvIntegrations object built from
// the command line, the announced image loaded through it, the object handed to QML.
// Usage: consumer IMAGE   (exit code 0 when the image arrived and QML saw the object)
#include <OvIntegrations.h>

#include <QApplication>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QTimer>

#include <cstdio>

static int fail(const QString &why)
{
    std::fprintf(stderr, "consumer: %s\n", qPrintable(why));
    return 1;
}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // No filter marker in front: the library serves the run as an external editor's (CLI).
    OvIntegrations integrations(app.arguments());
    if (integrations.pluginType() != OvIntegrations::CLI)
        return fail(QStringLiteral("expected external-editor mode"));
    integrations.setup(&app, nullptr);

    QSize loadedSize;
    QObject::connect(&integrations, &OvIntegrations::pluginImagesAdded, &app,
                     [&](const QStringList &ids) {
                         if (ids.isEmpty())
                             app.exit(3);
                         else
                             emit integrations.loadImage(ids.first());
                     });
    QObject::connect(&integrations, &OvIntegrations::pluginImageLoaded, &app,
                     [&](const QString &, const QVariantMap &imageData) {
                         const auto image = imageData.value(QStringLiteral("image"))
                                                    .value<std::shared_ptr<ImageData>>();
                         loadedSize = image ? image->size() : QSize();
                         app.quit();
                     });
    QObject::connect(&integrations, &OvIntegrations::invalidImages, &app,
                     [&](const QStringList &files) {
                         if (!files.isEmpty())
                             app.exit(3);
                     });
    QObject::connect(&integrations, &OvIntegrations::loadingErrorChanged, &app, [&] {
        if (!integrations.loadingError().isEmpty())
            app.exit(1);
    });
    QTimer::singleShot(30000, &app, [&] { app.exit(2); });
    integrations.start();
    if (const int code = app.exec(); code != 0 || loadedSize.isEmpty())
        return fail(QStringLiteral("no image loaded (%1) %2").arg(code).arg(integrations.loadingError()));

    QQmlEngine engine;
    engine.rootContext()->setContextProperty(QStringLiteral("integrations"), &integrations);
    QQmlComponent component(&engine);
    component.setData("import QtQml\nimport OvIntegrations 1.0\n"
                      "QtObject { property int mode: integrations.pluginType }\n", QUrl());
    std::unique_ptr<QObject> object(component.create());
    if (!object || object->property("mode").toInt() != OvIntegrations::CLI)
        return fail(QStringLiteral("QML: ") + component.errorString());

    std::printf("consumer: mode=CLI image=%dx%d\n", loadedSize.width(), loadedSize.height());
    integrations.cleanup();
    return 0;
}
