// Accepting a dropped folder: time per file for 1,000 and for 100,000 files. The back end keeps a
// hash set beside its file list, so the time per file must not grow with the folder.
#include "CLIPluginData.h"

#include <QGuiApplication>
#include <QDir>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTextStream>
#include <QUrl>

#include <algorithm>
#include <vector>

namespace {

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

bool makeFolder(const QString &dir, int count)
{
    if (!QDir().mkpath(dir))
        return false;
    for (int i = 0; i < count; ++i) {
        QFile file(dir + QStringLiteral("/img_%1.jpg").arg(i, 6, 10, QLatin1Char('0')));
        if (!file.open(QIODevice::WriteOnly))
            return false;
    }
    return true;
}

// Nanoseconds per file for one drop of `dir` onto a fresh, stand-alone back end.
double dropOnce(const QString &dir, int count)
{
    CLIPluginData backEnd({QStringLiteral("bench")});
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(dir)});
    QDropEvent event(QPointF(0, 0), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QElapsedTimer timer;
    timer.start();
    backEnd.eventFilter(nullptr, &event);
    const qint64 ns = timer.nsecsElapsed();
    const int accepted = int(backEnd.getDataForMerging().count(QStringLiteral("::")) + 1);
    if (accepted != count)
        qFatal("accepted %d of %d files", accepted, count);
    return double(ns) / count;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    // Drop events belong to the GUI module; no display is needed to deliver them.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    qInstallMessageHandler(quiet);
    QTextStream out(stdout);

    QTemporaryDir root;
    const QString small = root.path() + QStringLiteral("/small");
    const QString large = root.path() + QStringLiteral("/large");
    if (!root.isValid() || !makeFolder(small, 1000) || !makeFolder(large, 100000)) {
        out << "could not create the test folders\n";
        return 1;
    }

    // Rounds alternate between the two sizes so that both see the same machine; the median
    // keeps a busy moment from deciding the figure.
    const int rounds = 5;
    const int smallRepeats = 20;
    std::vector<double> small1k;
    std::vector<double> large100k;
    for (int round = 0; round < rounds; ++round) {
        for (int i = 0; i < smallRepeats; ++i)
            small1k.push_back(dropOnce(small, 1000));
        large100k.push_back(dropOnce(large, 100000));
    }
    const double perFileSmall = median(small1k);
    const double perFileLarge = median(large100k);

    out << "bench_cliplugin_addfile: dropped folder, median of " << small1k.size() << " drops of 1,000 and "
        << large100k.size() << " drops of 100,000 files\n";
    out << QStringLiteral("  1,000 files:   %1 us per file\n").arg(perFileSmall / 1000.0, 0, 'f', 2);
    out << QStringLiteral("  100,000 files: %1 us per file\n").arg(perFileLarge / 1000.0, 0, 'f', 2);
    out << QStringLiteral("  ratio 100,000 / 1,000: %1 (target <= 1.50)\n").arg(perFileLarge / perFileSmall, 0, 'f', 2);
    out.flush();
    return 0;
}
