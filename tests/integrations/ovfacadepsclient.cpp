// Plays the application in a filter-host run: started by ovfilterhost with the filter marker as
// argv[0], it drives OvIntegrations from start() to cleanup() through the facade's own requests
// and relays, and prints what it saw as "key=value" lines on standard output for the test.

#include "OvIntegrations.h"
#include "OvIntegrationsProbe.h"
#include "PluginData.h"
#include "imaging/ImageData.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

constexpr int stepTimeoutMs = 10000;

void report(const char *key, const QString &value)
{
    std::printf("%s=%s\n", key, value.toUtf8().constData());
    std::fflush(stdout);
}

void report(const char *key, bool value)
{
    report(key, value ? QStringLiteral("true") : QStringLiteral("false"));
}

QString sizeText(const QSize &size)
{
    return QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
}

// Runs the event loop until the condition holds; the facade's handlers poke it when state changes.
class Waiter
{
public:
    Waiter()
    {
        m_timeout.setSingleShot(true);
        QObject::connect(&m_timeout, &QTimer::timeout, &m_loop, &QEventLoop::quit);
    }
    bool waitFor(const std::function<bool()> &done)
    {
        if (done())
            return true;
        m_done = done;
        m_timeout.start(stepTimeoutMs);
        m_loop.exec();
        m_timeout.stop();
        m_done = nullptr;
        return done();
    }
    void poke()
    {
        if (m_done && m_done())
            m_loop.quit();
    }

private:
    QEventLoop m_loop;
    QTimer m_timeout;
    std::function<bool()> m_done;
};

// The settings the user interface would save: a category and "auto" that the host never sees.
QVariantMap uiSettings()
{
    const QVariantMap params{{QStringLiteral("strength"), 42}, {QStringLiteral("auto"), true}};
    return {{QStringLiteral("Denoise"),
             QVariantMap{{QStringLiteral("category"), QStringLiteral("denoise")},
                         {QStringLiteral("params"), params}}}};
}

int run(OvIntegrations &facade, QApplication &app)
{
    report("pluginType", QString::number(facade.pluginType()));
    report("hostDisplayName", facade.pluginDisplayName());
    report("mergableInstanceKey", facade.mergableInstanceKey());
    report("isSilent", facade.isSilent());
    report("resizingSupported", facade.resizingSupported());
    report("isPluginMode", facade.isPluginMode());
    report("canMergeInstance", facade.canMergeInstance());

    Waiter waiter;
    QStringList ids;
    QStringList events;
    bool described = false;
    bool saved = false;
    QObject::connect(&facade, &OvIntegrations::pluginImagesAdded,
                     [&](const QStringList &added, bool) {
                         ids += added;
                         waiter.poke();
                     });
    QObject::connect(&facade, &OvIntegrations::trackEvent,
                     [&](const QString &identifier, const QVariantMap &) {
                         events << identifier;
                         waiter.poke();
                     });
    QObject::connect(&facade, &OvIntegrations::imagedataChanged, [&] {
        described = true;
        waiter.poke();
    });
    QObject::connect(&facade, &OvIntegrations::pluginImageSaved, [&](const QString &path) {
        report("saved", path);
        saved = true;
        waiter.poke();
    });

    facade.setup(&app, nullptr);
    facade.start();
    if (!waiter.waitFor([&] { return !ids.isEmpty() && !events.isEmpty(); }))
        return 2;
    report("imagesAdded", ids.join(QLatin1Char('|')));
    report("trackEvent", events.join(QLatin1Char('|')));
    const QString id = ids.first();

    facade.setProperty("currentImage", id);
    QMetaObject::invokeMethod(&facade, "loadImage", Q_ARG(QString, id));
    if (!waiter.waitFor([&] { return described; }))
        return 3;
    const auto image = facade.imagedata().value(QStringLiteral("image")).value<std::shared_ptr<ImageData>>();
    if (!image)
        return 4;
    report("loadedSize", sizeText(image->size()));
    report("imageSize", sizeText(facade.imageSize(id)));

    report("hostDenoise", facade.loadSettings(id).value(QStringLiteral("Denoise")).toString());
    // Read back at once: the request must have been carried out when the emit returns.
    emit facade.saveSettings(id, uiSettings());
    const QVariantMap stored = facade.loadSettings(id);
    report("settingsVersion", stored.value(QStringLiteral("version")).toString());
    report("settingsDenoise", stored.value(QStringLiteral("Denoise")).toString());

    facade.setCropRect(QRectF());
    emit facade.saveImage(image, id, id, facade.imagedata(), QVariantMap());
    if (!waiter.waitFor([&] { return saved; }))
        return 5;
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    auto *facade = new OvIntegrations(app.arguments());
    std::unique_ptr<PluginData> backEnd(OvIntegrationsProbe::backEnd(*facade));

    const int result = run(*facade, app);
    report("result", QString::number(result));
    // Always hand the channels back, or the host would wait for the param lock in vain.
    facade->cleanup();
    delete facade;
    return result;
}
