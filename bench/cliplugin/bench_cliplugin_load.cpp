// Loading a 24-megapixel JPEG in external-editor mode, from loadImage to imageLoaded, with the
// ExifTool process already running and the thumbnail already made, against a bare cv::imread of
// the same file in the same run. Also the first load (ExifTool start and thumbnail included) and
// the image reader on its own, to show where the time goes.
#include "CLIPluginData.h"
#include "imaging/OvImageReaderWorker.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMetaObject>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <vector>

namespace {

// The back end's progress messages would swamp the figures; failures end the run with qFatal.
void quiet(QtMsgType, const QMessageLogContext &, const QString &) { }

// A photo-like 6000 x 4000 picture: smooth gradients with fine noise, so that JPEG has work to do.
bool writePhoto(const QString &path)
{
    cv::Mat image(4000, 6000, CV_8UC3);
    for (int y = 0; y < image.rows; ++y) {
        auto *row = image.ptr<cv::Vec3b>(y);
        for (int x = 0; x < image.cols; ++x)
            row[x] = cv::Vec3b(uchar(x * 255 / image.cols), uchar(y * 255 / image.rows), uchar((x + y) / 40));
    }
    cv::Mat noise(image.size(), CV_8UC3);
    cv::randn(noise, cv::Scalar::all(0), cv::Scalar::all(6));
    image += noise;
    return cv::imwrite(QFile::encodeName(path).toStdString(), image, {cv::IMWRITE_JPEG_QUALITY, 92});
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Milliseconds from the queued loadImage request to imageLoaded arriving on this thread.
double timedLoad(PluginData *backEnd, const QString &file)
{
    QEventLoop loop;
    bool ok = false;
    const auto done = QObject::connect(
        backEnd, &PluginData::imageLoaded, &loop,
        [&](const QString &id) {
            ok = id == file;
            loop.quit();
        },
        Qt::QueuedConnection);
    const auto failed = QObject::connect(
        backEnd, &PluginData::loadingErrorChanged, &loop, [&] { loop.quit(); }, Qt::QueuedConnection);
    QElapsedTimer timer;
    timer.start();
    QMetaObject::invokeMethod(backEnd, "loadImage", Qt::QueuedConnection, Q_ARG(QString, file), Q_ARG(bool, false));
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    loop.exec();
    const double ms = timer.nsecsElapsed() / 1e6;
    QObject::disconnect(done);
    QObject::disconnect(failed);
    if (!ok)
        qFatal("loading %s failed", qPrintable(file));
    return ms;
}

double timedImread(const QString &file)
{
    QElapsedTimer timer;
    timer.start();
    const cv::Mat image = cv::imread(QFile::encodeName(file).toStdString());
    const double ms = timer.nsecsElapsed() / 1e6;
    if (image.empty())
        qFatal("cv::imread failed");
    return ms;
}

double timedReader(const QString &file)
{
    OvImageReaderWorker reader;
    bool ok = false;
    QObject::connect(&reader, &OvImageReaderWorker::imageLoaded, [&ok] { ok = true; });
    QElapsedTimer timer;
    timer.start();
    reader.loadImage(file, QVariantMap(), QVariantMap());
    const double ms = timer.nsecsElapsed() / 1e6;
    if (!ok)
        qFatal("the reader failed");
    return ms;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quiet);
    QTextStream out(stdout);

    QTemporaryDir root;
    const QString tmp = root.path() + QStringLiteral("/tmp");
    QDir().mkpath(tmp);
    qputenv("TMPDIR", QFile::encodeName(tmp));
    const QString file = root.path() + QStringLiteral("/photo24mp.jpg");
    if (!writePhoto(file)) {
        out << "could not write the test photo\n";
        return 1;
    }

    auto *backEnd = new CLIPluginData({QStringLiteral("bench")});
    QThread worker;
    backEnd->moveToThread(&worker);
    worker.start();

    timedImread(file); // the file is in the page cache for everyone from here on
    const double first = timedLoad(backEnd, file);

    const int rounds = 7;
    std::vector<double> loads;
    std::vector<double> imreads;
    std::vector<double> readers;
    for (int i = 0; i < rounds; ++i) {
        imreads.push_back(timedImread(file));
        loads.push_back(timedLoad(backEnd, file));
        readers.push_back(timedReader(file));
    }
    const double load = median(loads);
    const double imread = median(imreads);
    const double reader = median(readers);

    out << "bench_cliplugin_load: 6000 x 4000 JPEG, median of " << rounds << " rounds\n";
    out << QStringLiteral("  first load (ExifTool start, thumbnail made): %1 ms\n").arg(first, 0, 'f', 1);
    out << QStringLiteral("  loadImage -> imageLoaded (warm):            %1 ms\n").arg(load, 0, 'f', 1);
    out << QStringLiteral("  bare cv::imread:                            %1 ms\n").arg(imread, 0, 'f', 1);
    out << QStringLiteral("  OvImageReaderWorker::loadImage alone:       %1 ms\n").arg(reader, 0, 'f', 1);
    out << QStringLiteral("  ratio load / imread: %1 (target <= 1.25)\n").arg(load / imread, 0, 'f', 2);
    out << QStringLiteral("  ratio reader / imread: %1\n").arg(reader / imread, 0, 'f', 2);
    out.flush();

    QMetaObject::invokeMethod(
        backEnd, [backEnd] { delete backEnd; }, Qt::BlockingQueuedConnection);
    worker.quit();
    worker.wait();
    return 0;
}
