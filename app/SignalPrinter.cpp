#include "SignalPrinter.h"

#include "Console.h"
#include "OvIntegrations.h"
#include "OvIntercom.h"

#include <QMetaEnum>

SignalPrinter::SignalPrinter(OvIntegrations *integrations, OvIntercom *intercom, QObject *parent)
    : QObject(parent)
{
    connectResults(integrations);
    connectRequests(integrations);
    connect(intercom, &OvIntercom::mergeInstance, this, [](const QString &data) {
        Console::line(QStringLiteral("intercom mergeInstance data=%1").arg(Console::quoted(data)));
    });
}

QString SignalPrinter::describe(const OvIntegrations *integrations)
{
    const QMetaEnum types = QMetaEnum::fromType<OvIntegrations::PluginType>();
    return QStringLiteral("mode=%1 name=%2 pluginMode=%3 silent=%4 resizing=%5 mergeKey=%6")
        .arg(QString::fromLatin1(types.valueToKey(integrations->pluginType())),
             Console::quoted(integrations->pluginDisplayName()),
             integrations->isPluginMode() ? QStringLiteral("true") : QStringLiteral("false"),
             integrations->isSilent() ? QStringLiteral("true") : QStringLiteral("false"),
             integrations->resizingSupported() ? QStringLiteral("true") : QStringLiteral("false"),
             Console::quoted(integrations->mergableInstanceKey()));
}

void SignalPrinter::connectResults(OvIntegrations *integrations)
{
    auto *o = integrations;
    connect(o, &OvIntegrations::isPluginModeChanged, this, [](bool on) {
        Console::line(QStringLiteral("isPluginModeChanged isPluginMode=%1").arg(on ? "true" : "false"));
    });
    connect(o, &OvIntegrations::loadingChanged, this,
            [](bool on) { Console::line(QStringLiteral("loadingChanged loading=%1").arg(on ? "true" : "false")); });
    connect(o, &OvIntegrations::pluginImageLoaded, this, [](const QString &id, const QVariantMap &map) {
        Console::line(
            QStringLiteral("pluginImageLoaded id=%1 imageData=%2").arg(Console::quoted(id), Console::value(map)));
    });
    connect(o, &OvIntegrations::pluginImagesAdded, this, [](const QStringList &ids, bool merging) {
        Console::line(QStringLiteral("pluginImagesAdded ids=%1 mergingInstance=%2")
                          .arg(Console::list(ids), merging ? QStringLiteral("true") : QStringLiteral("false")));
    });
    connect(o, &OvIntegrations::pluginImageSaved, this, [](const QString &path) {
        Console::line(QStringLiteral("pluginImageSaved outputPath=%1").arg(Console::quoted(path)));
    });
    connect(o, &OvIntegrations::pluginImageSavingProgress, this, [](const QString &path, float progress) {
        Console::line(QStringLiteral("pluginImageSavingProgress outputPath=%1 progress=%2")
                          .arg(Console::quoted(path))
                          .arg(progress));
    });
    connect(o, &OvIntegrations::pluginImageSavingError, this, [](const QString &path, const QString &error) {
        Console::line(QStringLiteral("pluginImageSavingError outputPath=%1 error=%2")
                          .arg(Console::quoted(path), Console::quoted(error)));
    });
    connect(o, &OvIntegrations::trackEvent, this, [](const QString &identifier, const QVariantMap &params) {
        Console::line(QStringLiteral("trackEvent identifier=%1 params=%2")
                          .arg(Console::quoted(identifier), Console::value(params)));
    });
    connect(o, &OvIntegrations::loadingErrorChanged, this, [o] {
        Console::line(QStringLiteral("loadingErrorChanged loadingError=%1").arg(Console::quoted(o->loadingError())));
    });
    connect(o, &OvIntegrations::loadingStatusChanged, this, [o] {
        Console::line(QStringLiteral("loadingStatusChanged loadingStatus=%1").arg(Console::quoted(o->loadingStatus())));
    });
    connect(o, &OvIntegrations::invalidImages, this, [](const QStringList &files) {
        Console::line(QStringLiteral("invalidImages invalidFiles=%1").arg(Console::list(files)));
    });
    connect(o, &OvIntegrations::currentImageChanged, this, [o] {
        Console::line(QStringLiteral("currentImageChanged currentImage=%1")
                          .arg(Console::quoted(o->property("currentImage").toString())));
    });
    connect(o, &OvIntegrations::imagedataChanged, this, [o] {
        Console::line(QStringLiteral("imagedataChanged imagedata=%1").arg(Console::value(o->imagedata())));
    });
}

void SignalPrinter::connectRequests(OvIntegrations *integrations)
{
    auto *o = integrations;
    connect(o, &OvIntegrations::mergeInstance, this, [](const QString &data) {
        Console::line(QStringLiteral("request mergeInstance data=%1").arg(Console::quoted(data)));
    });
    connect(o, qOverload<const QString &, bool>(&OvIntegrations::loadImage), this, [](const QString &id, bool raw) {
        Console::line(QStringLiteral("request loadImage id=%1 isExportingRaw=%2")
                          .arg(Console::quoted(id), raw ? "true" : "false"));
    });
    connect(o, &OvIntegrations::saveImage, this,
            [](const std::shared_ptr<ImageData> &image, const QString &inputPath, const QString &outputPath,
               const QVariantMap &, const QVariantMap &saveOptions) {
                Console::line(QStringLiteral("request saveImage image=%1 inputPath=%2 outputPath=%3 saveOptions=%4")
                                  .arg(Console::value(QVariant::fromValue(image)), Console::quoted(inputPath),
                                       Console::quoted(outputPath), Console::value(saveOptions)));
            });
    connect(o, &OvIntegrations::saveSettings, this, [](const QString &id, const QVariantMap &settings) {
        Console::line(QStringLiteral("request saveSettings id=%1 settings=%2")
                          .arg(Console::quoted(id), Console::value(settings)));
    });
}
