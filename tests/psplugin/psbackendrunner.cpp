// psbackendrunner: a minimal application for filter runs in tests. Started by the filter module
// (or its stand-in) with the filter marker as argv[0], it constructs the filter-host back end,
// starts it, optionally loads and saves the image unchanged, cleans up and prints what it saw,
// one "key=value" line each.
//
//   psbackendrunner [--load-and-save] [--cleanup-on-thread] [--skip-cleanup]

#include "psplugin/PSPluginData.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <cstdio>
#include <memory>
#include <thread>

namespace {

void print(const QString &key, const QString &value)
{
    std::printf("%s=%s\n", key.toUtf8().constData(), value.toUtf8().constData());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();

    auto *backEnd = new PSPluginData();
    print(QStringLiteral("hostDisplayName"), backEnd->getPluginDisplayName());
    print(QStringLiteral("isSilent"), backEnd->isSilent() ? QStringLiteral("true") : QStringLiteral("false"));
    print(QStringLiteral("mergableInstanceKey"), backEnd->getMergableInstanceKey());
    const QSize size = backEnd->imageSize(QString());
    print(QStringLiteral("imageSize"), QStringLiteral("%1x%2").arg(size.width()).arg(size.height()));

    QObject::connect(backEnd, &PluginData::imagesAdded, [](const QStringList &ids, bool merging) {
        print(QStringLiteral("imagesAdded"), ids.join(QLatin1Char('|')) + (merging ? QStringLiteral(" merging") : QString()));
    });
    QObject::connect(backEnd, &PluginData::trackEvent, [](const QString &id, const QVariantMap &params) {
        const QJsonDocument json(QJsonObject::fromVariantMap(params));
        print(QStringLiteral("trackEvent"), id + QLatin1Char(' ') + QString::fromUtf8(json.toJson(QJsonDocument::Compact)));
    });

    std::shared_ptr<ImageData> loaded;
    QObject::connect(backEnd, &PluginData::imageLoaded, [&loaded](const QString &, const QVariantMap &data) {
        loaded = data.value(QStringLiteral("image")).value<std::shared_ptr<ImageData>>();
    });

    backEnd->start();
    if (args.contains(QStringLiteral("--load-and-save"))) {
        backEnd->loadImage(QStringLiteral("runner image"), false);
        backEnd->saveImage(loaded, QString(), QStringLiteral("host output"), {}, {});
    }
    if (args.contains(QStringLiteral("--cleanup-on-thread"))) {
        // The locks were taken on this thread; the release must work from any other.
        std::thread other([backEnd] { backEnd->cleanup(); });
        other.join();
    } else if (!args.contains(QStringLiteral("--skip-cleanup"))) {
        backEnd->cleanup();
    }
    // The back end's channels stay mapped on their own; the object itself can go.
    delete backEnd;
    return 0;
}
