// Accepting a dropped folder: time per file for 1,000 and for 100,000 files. The back end keeps a
// hash set beside its file list, so the time per file must not grow with the folder.
#include "CLIPluginData.h"

#include <QGuiApplication>
#include <QDir>
#include <QDirIterator>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTextStream>
#include <QUrl>

#include <algorithm>
#include <ctime>
#include <vector>

namespace {

void quiet(QtMsgType, const QMessageLogContext &, const QString &) { }

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

struct PerFile
{
    double wallNs;
    double cpuNs;
};

// Time per file for one drop of `dir` onto a fresh, stand-alone back end: wall-clock time, and the
// process's processor time, which other programs on a busy machine do not inflate.
PerFile dropOnce(const QString &dir, int count)
{
    CLIPluginData backEnd({QStringLiteral("bench")});
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(dir)});
    QDropEvent event(QPointF(0, 0), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QElapsedTimer timer;
    timer.start();
    const std::clock_t cpuStart = std::clock();
    backEnd.eventFilter(nullptr, &event);
    const double cpuNs = double(std::clock() - cpuStart) * 1e9 / CLOCKS_PER_SEC;
    const qint64 ns = timer.nsecsElapsed();
    const int accepted = int(backEnd.getDataForMerging().count(QStringLiteral("::")) + 1);
    if (accepted != count)
        qFatal("accepted %d of %d files", accepted, count);
    return {double(ns) / count, cpuNs / count};
}

// The file-system work alone that every accepted file needs (walk the folder, test existence),
// without the back end's bookkeeping: the floor under the figures above.
PerFile walkOnce(const QString &dir, int count)
{
    QElapsedTimer timer;
    timer.start();
    const std::clock_t cpuStart = std::clock();
    int found = 0;
    QDirIterator it(dir, {QStringLiteral("*.*")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        found += QFile::exists(it.next()) ? 1 : 0;
    const double cpuNs = double(std::clock() - cpuStart) * 1e9 / CLOCKS_PER_SEC;
    const qint64 ns = timer.nsecsElapsed();
    if (found != count)
        qFatal("found %d of %d files", found, count);
    return {double(ns) / count, cpuNs / count};
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
    std::vector<double> smallWall, smallCpu, largeWall, largeCpu;
    std::vector<double> smallWalkCpu, largeWalkCpu;
    for (int round = 0; round < rounds; ++round) {
        for (int i = 0; i < smallRepeats; ++i) {
            const PerFile t = dropOnce(small, 1000);
            smallWall.push_back(t.wallNs);
            smallCpu.push_back(t.cpuNs);
            smallWalkCpu.push_back(walkOnce(small, 1000).cpuNs);
        }
        const PerFile t = dropOnce(large, 100000);
        largeWall.push_back(t.wallNs);
        largeCpu.push_back(t.cpuNs);
        largeWalkCpu.push_back(walkOnce(large, 100000).cpuNs);
    }
    const auto us = [](double ns) { return QString::number(ns / 1000.0, 'f', 2); };

    out << "bench_cliplugin_addfile: dropped folder, median of " << smallWall.size() << " drops of 1,000 and "
        << largeWall.size() << " drops of 100,000 files, per file (wall / processor time)\n";
    out << "  1,000 files:   " << us(median(smallWall)) << " us / " << us(median(smallCpu)) << " us\n";
    out << "  100,000 files: " << us(median(largeWall)) << " us / " << us(median(largeCpu)) << " us\n";
    out << "  ratio 100,000 / 1,000 (target <= 1.50): wall "
        << QString::number(median(largeWall) / median(smallWall), 'f', 2) << ", processor "
        << QString::number(median(largeCpu) / median(smallCpu), 'f', 2) << "\n";
    out << "  file-system walk and existence test alone, processor time: 1,000 files " << us(median(smallWalkCpu))
        << " us, 100,000 files " << us(median(largeWalkCpu)) << " us, ratio "
        << QString::number(median(largeWalkCpu) / median(smallWalkCpu), 'f', 2) << "\n";
    out.flush();
    return 0;
}
