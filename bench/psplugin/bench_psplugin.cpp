// bench_psplugin: time and peak memory of PSPluginData::loadImage and ::saveImage on a
// 48-megapixel image (8000 x 6000, mask included) over real shared memory, against two memcpy
// baselines of the 384 MB four-channel 16-bit image measured in the same process:
//   (a) into a freshly allocated buffer (page faults included),
//   (b) between two buffers already touched.
// Targets: load within 2x (a), save within 3x (b), load adding at most 16 bytes per pixel.
// The cost of fresh pages drifts from one minute to the next on a shared or virtual machine, so
// each timed load after the first is paired with a copy (a) made just before it, and the load is
// given as the median of the pairs' ratios beside the median of those copies.
// Memory comes from the process's own counters: on Linux the resident set with its high-water
// mark reset before each call, on Windows the working set and private bytes sampled while it runs
// (GetProcessMemoryInfo). A figure the system cannot give is printed as "not measured" with the
// reason, and a target that rests on it is not met.
// The plain whole-matrix sequence of steps is timed too, for comparison.
//
// Usage: bench_psplugin [WIDTH HEIGHT] [RUNS]

#include "FilterHostSession.h"
#include "HostImage.h"
#include "PeakMemory.h"
#include "ProcessMemory.h"

#include "imaging/CvUtils.h"
#include "imaging/ImageData.h"
#include "psplugin/PSPluginData.h"

#include <QCoreApplication>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

using Peak = PeakMemory::Added;

double timeFreshCopy(const unsigned char *source, size_t bytes)
{
    const auto start = Clock::now();
    auto *target = static_cast<unsigned char *>(std::malloc(bytes));
    std::memcpy(target, source, bytes);
    const double ms = msSince(start);
    volatile unsigned char sink = target[bytes / 2];
    (void)sink;
    std::free(target);
    return ms;
}

double timeWarmCopy(unsigned char *target, const unsigned char *source, size_t bytes)
{
    const auto start = Clock::now();
    std::memcpy(target, source, bytes);
    return msSince(start);
}

// The load as the plain sequence of whole-matrix steps, for comparison only.
cv::Mat plainLoad(FilterHostSession &session)
{
    const IPCParams *r = session.record();
    std::vector<cv::Mat> channels;
    for (int k = 0; k < 3; ++k)
        channels.emplace_back(int(r->height), int(r->width), CV_16UC1, session.plane(k).data(), size_t(r->rowBytes));
    channels.emplace_back(int(r->height), int(r->width), CV_16UC1, session.mask()->data(), size_t(r->rowBytes));
    cv::Mat working;
    cv::merge(channels, working);
    cv::bitwise_and(working, cv::Scalar::all(32767), working);
    working.convertTo(working, CV_32F, 1.0 / 32767.0);
    cv::Mat converted = CvUtils::convert(working, 2);
    cv::Mat thumbnail;
    cv::resize(working, thumbnail, cv::Size(int(r->width) * 200 / int(r->height), 200), 0, 0, cv::INTER_LINEAR);
    return converted;
}

void plainSave(FilterHostSession &session, const std::shared_ptr<ImageData> &image)
{
    const IPCParams *r = session.record();
    cv::Mat f = CvUtils::convert(image->fullMat(true), 5);
    f.convertTo(f, CV_16U, 32767.0);
    cv::threshold(f, f, 32767, 32767, cv::THRESH_TRUNC);
    for (int y = 0; y < int(r->height); ++y) {
        const uint16_t *s = f.ptr<uint16_t>(y);
        uint16_t *p[4];
        for (int k = 0; k < 3; ++k)
            p[k] = reinterpret_cast<uint16_t *>(session.plane(k).data() + size_t(y) * r->rowBytes);
        p[3] = reinterpret_cast<uint16_t *>(session.mask()->data() + size_t(y) * r->rowBytes);
        for (int x = 0; x < int(r->width); ++x) {
            for (int c = 0; c < 4; ++c)
                p[c][x] = s[4 * x + c];
        }
    }
}

HostImage makeImage(int width, int height)
{
    HostImage image;
    image.width = width;
    image.height = height;
    cv::RNG rng(1);
    for (auto &plane : image.planes) {
        plane.create(height, width, CV_16UC1);
        rng.fill(plane, cv::RNG::UNIFORM, 0, 65536);
    }
    image.mask.create(height, width, CV_16UC1);
    rng.fill(image.mask, cv::RNG::UNIFORM, 0, 32768);
    return image;
}

struct Baselines
{
    double fresh = 0; // (a)
    double warm = 0; // (b)
};

Baselines measureBaselines(size_t bytes, int runs)
{
    std::vector<unsigned char> source(bytes, 1);
    std::vector<unsigned char> target(bytes, 2);
    std::vector<double> fresh, warm;
    for (int i = 0; i < runs; ++i) {
        fresh.push_back(timeFreshCopy(source.data(), bytes));
        warm.push_back(timeWarmCopy(target.data(), source.data(), bytes));
    }
    const Baselines baselines{median(fresh), median(warm)};
    std::printf("baseline (a) memcpy into fresh memory:   %8.1f ms\n", baselines.fresh);
    std::printf("baseline (b) memcpy between warm buffers: %8.1f ms\n", baselines.warm);
    return baselines;
}

struct BackEndTimes
{
    double loadMs = 0;
    double freshBesideLoads = 0; // (a), timed just before each load
    double loadRatio = 0; // the median of load / (a) over the pairs
    double saveMs = 0;
    Peak loadPeak;
    Peak savePeak;
};

// The back end is not moved to a thread here, so each call has answered by the time it returns.
// The first load is only watched for memory: its peak is sampled by a thread of its own.
BackEndTimes timeBackEnd(PSPluginData &backEnd, int runs, std::shared_ptr<ImageData> &loaded,
                         const std::function<double()> &freshCopy)
{
    Clock::time_point callStart;
    double lastLoad = 0;
    double lastSave = 0;
    QObject::connect(&backEnd, &PluginData::imageLoaded, [&](const QString &, const QVariantMap &data) {
        lastLoad = msSince(callStart);
        loaded = data.value(QStringLiteral("image")).value<std::shared_ptr<ImageData>>();
    });
    QObject::connect(&backEnd, &PluginData::imageSaved, [&](const QString &) { lastSave = msSince(callStart); });
    const auto load = [&] {
        callStart = Clock::now();
        backEnd.loadImage(QStringLiteral("bench"), false);
    };
    const auto save = [&] {
        callStart = Clock::now();
        backEnd.saveImage(loaded, QString(), QStringLiteral("out"), {}, {});
    };

    BackEndTimes times;
    times.loadPeak = PeakMemory::during(load);
    std::vector<double> loads, fresh, ratios;
    for (int i = 0; i < std::max(runs, 2) - 1; ++i) {
        // The previous image is still held by the description; drop ours so only one extra remains.
        loaded.reset();
        fresh.push_back(freshCopy());
        load();
        loads.push_back(lastLoad);
        ratios.push_back(lastLoad / fresh.back());
    }
    times.savePeak = PeakMemory::during(save);
    std::vector<double> saves{lastSave};
    for (int i = 1; i < runs; ++i) {
        save();
        saves.push_back(lastSave);
    }
    times.loadMs = median(loads);
    times.freshBesideLoads = median(fresh);
    times.loadRatio = median(ratios);
    times.saveMs = median(saves);
    return times;
}

// A memory figure the system cannot give says so, with the reason; it is never printed as zero.
void printBackEndTimes(const BackEndTimes &times, const Baselines &baselines, size_t pixels)
{
    const Peak &loadPeak = times.loadPeak;
    const double px = double(pixels);
    std::printf("baseline (a) beside the loads:           %8.1f ms\n", times.freshBesideLoads);
    std::printf("loadImage:  %8.1f ms = %5.2f x (a)  [target <= 2]\n", times.loadMs, times.loadRatio);
    std::printf("  first load, memory added (%s):\n", qPrintable(loadPeak.method));
    std::printf("    peak resident: %s\n", qPrintable(loadPeak.total.perPixel(px)));
    std::printf("    of which the planes' shared pages first mapped by this read: %s\n",
                qPrintable(loadPeak.shared.perPixel(px)));
    std::printf("    own memory: %s [target <= 16]\n", qPrintable(loadPeak.own.perPixel(px)));
    std::printf("saveImage:  %8.1f ms = %5.2f x (b)  [target <= 3]\n", times.saveMs, times.saveMs / baselines.warm);
    std::printf("  peak resident added: %s\n", qPrintable(times.savePeak.total.perPixel(px)));
}

// The load's own memory, or where the system cannot tell it apart, its whole peak, which holds it.
// Neither measured: the target is not met.
bool memoryTargetMet(const Peak &loadPeak, size_t pixels)
{
    const PeakMemory::Figure &bound = loadPeak.own.measured() ? loadPeak.own : loadPeak.total;
    if (!bound.measured()) {
        std::printf("own memory not measured: the memory target is not met\n");
        return false;
    }
    if (!loadPeak.own.measured())
        std::printf("own memory judged by the whole peak resident, which includes it\n");
    return double(bound.bytes) <= 16.0 * double(pixels);
}

void timePlainSequence(FilterHostSession &session, const std::shared_ptr<ImageData> &loaded, int runs,
                       const Baselines &baselines, size_t pixels)
{
    std::vector<double> plainLoads, plainSaves;
    Peak plainLoadPeak;
    for (int i = 0; i < std::min(runs, 3); ++i) {
        cv::Mat result;
        auto start = Clock::now();
        const Peak peak = PeakMemory::during([&] { result = plainLoad(session); });
        plainLoads.push_back(msSince(start));
        if (i == 0)
            plainLoadPeak = peak;
        start = Clock::now();
        plainSave(session, loaded);
        plainSaves.push_back(msSince(start));
    }
    std::printf("plain load: %8.1f ms = %5.2f x (a)   own memory added %s\n", median(plainLoads),
                median(plainLoads) / baselines.fresh, qPrintable(plainLoadPeak.own.perPixel(double(pixels))));
    std::printf("plain save: %8.1f ms = %5.2f x (b)\n", median(plainSaves), median(plainSaves) / baselines.warm);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int width = argc >= 3 ? std::atoi(argv[1]) : 8000;
    const int height = argc >= 3 ? std::atoi(argv[2]) : 6000;
    const int runs = argc >= 4 ? std::max(1, std::atoi(argv[3])) : argc == 2 ? std::max(1, std::atoi(argv[1])) : 5;
    // The timed code logs at debug level; the log itself is not what is measured.
    QLoggingCategory::setFilterRules(QStringLiteral("*.info=false"));
    QTemporaryDir temp;
    qputenv("TMPDIR", QFile::encodeName(temp.path()));

    const size_t pixels = size_t(width) * size_t(height);
    const size_t bytes = pixels * 8;
    std::printf("platform: %s\n", qPrintable(ProcessMemory::platform()));
    std::printf("image %d x %d (%.1f MP), four-channel 16-bit size %.0f MB, %d runs, %d OpenCV threads\n", width,
                height, pixels / 1e6, bytes / 1e6, runs, cv::getNumThreads());
    const Baselines baselines = measureBaselines(bytes, runs);

    FilterHostSession::removeStaleChannels();
    FilterHostSession session;
    QString error;
    if (!session.create(makeImage(width, height), HostSetup(), &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    session.releaseLocks();
    auto *backEnd = new PSPluginData();
    backEnd->start();

    std::shared_ptr<ImageData> loaded;
    const std::vector<unsigned char> copySource(bytes, 1);
    const BackEndTimes times =
        timeBackEnd(*backEnd, runs, loaded, [&] { return timeFreshCopy(copySource.data(), bytes); });
    printBackEndTimes(times, baselines, pixels);
    timePlainSequence(session, loaded, runs, baselines, pixels);

    backEnd->cleanup();
    session.removeAll();
    const bool met =
        times.loadRatio <= 2 && times.saveMs <= 3 * baselines.warm && memoryTargetMet(times.loadPeak, pixels);
    std::printf("targets: %s\n", met ? "met" : "NOT met");
    return 0;
}
