// bench_psplugin: time and peak memory of PSPluginData::loadImage and ::saveImage on a
// 48-megapixel image (8000 x 6000, mask included) over real shared memory, against two memcpy
// baselines of the 384 MB four-channel 16-bit image measured in the same process:
//   (a) into a freshly allocated buffer (page faults included),
//   (b) between two buffers already touched.
// Targets: load within 2x (a), save within 3x (b), load adding at most 16 bytes per pixel.
// The plain whole-matrix sequence of steps is timed too, for comparison.
//
// Usage: bench_psplugin [WIDTH HEIGHT] [RUNS]

#include "FilterHostSession.h"
#include "HostImage.h"

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

// Resident set and its high-water mark, in bytes, from /proc/self/status.
long long statusBytes(const char *field)
{
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(std::strlen(field))).trimmed().split(' ').first().toLongLong() * 1024;
    }
    return -1;
}

// Resets the high-water mark to the current resident set (Linux 4.0 and later).
bool resetPeak()
{
    QFile file(QStringLiteral("/proc/self/clear_refs"));
    return file.open(QIODevice::WriteOnly) && file.write("5") == 1;
}

struct Peak
{
    long long total = -1; // bytes the call adds to the peak resident set
    long long shared = 0; // of which pages of the shared planes, newly mapped by the call
    long long own() const { return total - shared; }
};

// Shared pages stay mapped once touched, so their share of the peak is what they add by the end.
Peak peakAdded(const std::function<void()> &call)
{
    Peak peak;
    if (!resetPeak())
        return peak;
    const long long before = statusBytes("VmRSS:");
    const long long sharedBefore = statusBytes("RssShmem:");
    call();
    peak.total = statusBytes("VmHWM:") - before;
    peak.shared = statusBytes("RssShmem:") - sharedBefore;
    return peak;
}

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
    double saveMs = 0;
    Peak loadPeak;
    Peak savePeak;
};

// The back end is not moved to a thread here, so each call has answered by the time it returns.
BackEndTimes timeBackEnd(PSPluginData &backEnd, int runs, std::shared_ptr<ImageData> &loaded)
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
    times.loadPeak = peakAdded(load);
    std::vector<double> loads{lastLoad};
    for (int i = 1; i < runs; ++i) {
        // The previous image is still held by the description; drop ours so only one extra remains.
        loaded.reset();
        load();
        loads.push_back(lastLoad);
    }
    times.savePeak = peakAdded(save);
    std::vector<double> saves{lastSave};
    for (int i = 1; i < runs; ++i) {
        save();
        saves.push_back(lastSave);
    }
    times.loadMs = median(loads);
    times.saveMs = median(saves);
    return times;
}

void printBackEndTimes(const BackEndTimes &times, const Baselines &baselines, size_t pixels)
{
    const Peak &loadPeak = times.loadPeak;
    std::printf("loadImage:  %8.1f ms = %5.2f x (a)  [target <= 2]\n", times.loadMs, times.loadMs / baselines.fresh);
    std::printf("  first load, peak added: %.1f MB = %.2f bytes/pixel, of which %.1f MB = %.2f bytes/pixel are the\n"
                "  planes' shared pages first mapped by this read; own memory %.2f bytes/pixel [target <= 16]\n",
                loadPeak.total / 1e6, double(loadPeak.total) / double(pixels), loadPeak.shared / 1e6,
                double(loadPeak.shared) / double(pixels), double(loadPeak.own()) / double(pixels));
    std::printf("saveImage:  %8.1f ms = %5.2f x (b)  [target <= 3]   peak added %.1f MB = %.2f bytes/pixel\n",
                times.saveMs, times.saveMs / baselines.warm, times.savePeak.total / 1e6,
                double(times.savePeak.total) / double(pixels));
}

void timePlainSequence(FilterHostSession &session, const std::shared_ptr<ImageData> &loaded, int runs,
                       const Baselines &baselines, size_t pixels)
{
    std::vector<double> plainLoads, plainSaves;
    Peak plainLoadPeak;
    for (int i = 0; i < std::min(runs, 3); ++i) {
        cv::Mat result;
        auto start = Clock::now();
        const Peak peak = peakAdded([&] { result = plainLoad(session); });
        plainLoads.push_back(msSince(start));
        if (i == 0)
            plainLoadPeak = peak;
        start = Clock::now();
        plainSave(session, loaded);
        plainSaves.push_back(msSince(start));
    }
    std::printf("plain load: %8.1f ms = %5.2f x (a)   own memory added %.1f MB = %.2f bytes/pixel\n",
                median(plainLoads), median(plainLoads) / baselines.fresh, plainLoadPeak.own() / 1e6,
                double(plainLoadPeak.own()) / double(pixels));
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
    const BackEndTimes times = timeBackEnd(*backEnd, runs, loaded);
    printBackEndTimes(times, baselines, pixels);
    timePlainSequence(session, loaded, runs, baselines, pixels);

    backEnd->cleanup();
    session.removeAll();
    const bool met = times.loadMs <= 2 * baselines.fresh && times.saveMs <= 3 * baselines.warm
                     && double(times.loadPeak.own()) <= 16.0 * double(pixels);
    std::printf("targets %s\n", met ? "met" : "NOT met");
    return 0;
}
