// Load time of OvImageReaderWorker against a bare cv::imread of the same 24 MP JPEG.
// The reader may add at most a quarter on top of the decode (channel reordering in place,
// the description); it fails the run when it adds more.
#include "imaging/ImageData.h"
#include "imaging/OvImageReaderWorker.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <vector>

namespace {

constexpr int Width = 6000;
constexpr int Height = 4000;
constexpr int Rounds = 7;
constexpr double AllowedRatio = 1.25;

// Gradients with sensor-like noise, so the JPEG costs what a photograph costs to decode.
void writePhotoLikeJpeg(const QString &path)
{
    cv::Mat image(Height, Width, CV_8UC3);
    for (int y = 0; y < Height; ++y) {
        auto *row = image.ptr<cv::Vec3b>(y);
        for (int x = 0; x < Width; ++x)
            row[x] = cv::Vec3b(uchar(x * 255 / Width), uchar(y * 255 / Height), uchar((x + y) % 256));
    }
    cv::Mat noise(image.size(), CV_8UC3);
    cv::randn(noise, cv::Scalar::all(0), cv::Scalar::all(12));
    image += noise;
    cv::imwrite(QFile::encodeName(path).toStdString(), image, {cv::IMWRITE_JPEG_QUALITY, 92});
}

double cpuMs(std::clock_t since)
{
    return double(std::clock() - since) * 1000.0 / CLOCKS_PER_SEC;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("photo-24mp.jpg"));
    writePhotoLikeJpeg(path);
    const std::string nativePath = QFile::encodeName(path).toStdString();

    OvImageReaderWorker reader;
    bool loaded = false;
    QObject::connect(&reader, &OvImageReaderWorker::imageLoaded, [&](const QVariantMap &description) {
        loaded = description.value(QStringLiteral("image")).value<std::shared_ptr<ImageData>>() != nullptr;
    });

    std::vector<double> bare;
    std::vector<double> bareUnchanged;
    std::vector<double> worker;
    std::vector<double> bareCpu;
    std::vector<double> workerCpu;
    QElapsedTimer timer;
    std::clock_t cpu = 0;
    for (int round = 0; round < Rounds; ++round) {
        cpu = std::clock();
        timer.start();
        const cv::Mat decoded = cv::imread(nativePath);
        bare.push_back(timer.nsecsElapsed() / 1e6);
        bareCpu.push_back(cpuMs(cpu));
        if (decoded.empty())
            return 2;

        timer.start();
        const cv::Mat unchanged = cv::imread(nativePath, cv::IMREAD_UNCHANGED);
        bareUnchanged.push_back(timer.nsecsElapsed() / 1e6);

        loaded = false;
        cpu = std::clock();
        timer.start();
        reader.loadImage(path, QVariantMap(), QVariantMap());
        worker.push_back(timer.nsecsElapsed() / 1e6);
        workerCpu.push_back(cpuMs(cpu));
        if (!loaded)
            return 2;
    }

    const double ratio = median(worker) / median(bare);
    std::printf("24 MP JPEG (%dx%d), median of %d rounds\n", Width, Height, Rounds);
    std::printf("  cv::imread (default flags)      wall %8.1f ms, cpu %8.1f ms\n", median(bare), median(bareCpu));
    std::printf("  cv::imread (IMREAD_UNCHANGED)   wall %8.1f ms\n", median(bareUnchanged));
    std::printf("  loadImage to imageLoaded        wall %8.1f ms, cpu %8.1f ms\n", median(worker), median(workerCpu));
    std::printf("  ratio to bare imread %.3f (allowed %.2f): %s\n", ratio, AllowedRatio,
                ratio <= AllowedRatio ? "ok" : "TOO SLOW");
    return ratio <= AllowedRatio ? 0 : 1;
}
