// psbackendrunner: a minimal application for filter runs in tests. Started by the filter module
// (or its stand-in) with the filter marker as argv[0], it constructs the filter-host back end,
// starts it, optionally loads, saves and exchanges settings, cleans up and prints what it saw,
// one "key=value" line each.
//
//   psbackendrunner [--load] [--save-unchanged] [--save-settings FILE.json] [--print-settings]
//                   [--cleanup-on-thread] [--skip-cleanup] [--abort-after-start]
//                   [--inject-damaged-guard K]
//
// --abort-after-start crashes (abort()) while the back end holds every lock, as an application
// that dies in the middle of a filter run.
// --inject-damaged-guard K damages the guard of plane K before the back end is built, so that
// a run under the filter-module stand-in can be made to fail.

#include "psplugin/PSPluginData.h"
#include "psplugin/SharedMemoryChannel.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

namespace {

void print(const QString &key, const QString &value)
{
    std::printf("%s=%s\n", key.toUtf8().constData(), value.toUtf8().constData());
    std::fflush(stdout);
}

QString describe(const QVariantMap &map)
{
    QVariantMap printable;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        if (it.value().canConvert<std::shared_ptr<ImageData>>() && it.key() == QLatin1String("image")) {
            const auto image = it.value().value<std::shared_ptr<ImageData>>();
            printable.insert(it.key(), image ? QStringLiteral("%1x%2 channels %3 depth %4")
                                                   .arg(image->width())
                                                   .arg(image->height())
                                                   .arg(image->mat().channels())
                                                   .arg(image->mat().depth())
                                             : QStringLiteral("null"));
        } else if (it.value().typeId() == QMetaType::QByteArray) {
            printable.insert(it.key(), QStringLiteral("%1 bytes").arg(it.value().toByteArray().size()));
        } else if (it.value().typeId() == QMetaType::QVariantMap) {
            printable.insert(it.key(), QJsonDocument::fromJson(describe(it.value().toMap()).toUtf8()).object());
        } else {
            printable.insert(it.key(), it.value());
        }
    }
    return QString::fromUtf8(QJsonDocument(QJsonObject::fromVariantMap(printable)).toJson(QJsonDocument::Compact));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    print(QStringLiteral("argv0"), QString::fromLocal8Bit(argv[0]));

    const qsizetype damageAt = args.indexOf(QStringLiteral("--inject-damaged-guard"));
    if (damageAt >= 0 && damageAt + 1 < args.size()) {
        const std::string name = "__orvaneLumivex_plane" + args.at(damageAt + 1).toStdString();
        // Never deleted: the channel's close() would remove the module's objects.
        auto *plane = new SharedMemoryChannel<char>(name, 0);
        if (plane->open() != 0)
            return 4;
        plane->data()[plane->size()] = 0;
    }

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
        print(QStringLiteral("trackEvent"), id + QLatin1Char(' ') + describe(params));
    });
    std::shared_ptr<ImageData> loaded;
    QObject::connect(backEnd, &PluginData::imageLoaded, [&loaded](const QString &id, const QVariantMap &data) {
        loaded = data.value(QStringLiteral("image")).value<std::shared_ptr<ImageData>>();
        print(QStringLiteral("imageLoaded"), id + QLatin1Char(' ') + describe(data));
    });
    QObject::connect(backEnd, &PluginData::imageSaved, [](const QString &path) {
        print(QStringLiteral("imageSaved"), path);
    });

    backEnd->start();
    if (args.contains(QStringLiteral("--abort-after-start")))
        std::abort();
    if (args.contains(QStringLiteral("--load")))
        backEnd->loadImage(QStringLiteral("runner image"), false);
    if (args.contains(QStringLiteral("--save-unchanged")))
        backEnd->saveImage(loaded, QString(), QStringLiteral("host output"), {}, {});
    const qsizetype settingsAt = args.indexOf(QStringLiteral("--save-settings"));
    if (settingsAt >= 0 && settingsAt + 1 < args.size()) {
        QFile file(args.at(settingsAt + 1));
        if (!file.open(QIODevice::ReadOnly))
            return 4;
        backEnd->saveSettings(QString(), QJsonDocument::fromJson(file.readAll()).object().toVariantMap());
    }
    if (args.contains(QStringLiteral("--print-settings"))) {
        const QVariantMap settings = backEnd->loadSettings(QString());
        print(QStringLiteral("loadSettings"),
              QString::fromUtf8(QJsonDocument(QJsonObject::fromVariantMap(settings)).toJson(QJsonDocument::Compact)));
    }
    if (args.contains(QStringLiteral("--skip-cleanup"))) {
        delete backEnd;
        return 0;
    }
    if (args.contains(QStringLiteral("--cleanup-on-thread"))) {
        // The locks were taken on this thread; the release must work from any other.
        std::thread other([backEnd] { backEnd->cleanup(); });
        other.join();
    } else {
        backEnd->cleanup();
    }
    print(QStringLiteral("cleanup"), QStringLiteral("done"));
    // The back end's channels stay mapped on their own; the object itself can go.
    delete backEnd;
    return 0;
}
