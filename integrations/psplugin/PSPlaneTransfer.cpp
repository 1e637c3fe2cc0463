#include "PSPlaneTransfer.h"

#include "imaging/CvUtils.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <limits>
#include <mutex>
#include <vector>

namespace {

constexpr uint16_t HostMax = 32767;
constexpr int HostValues = 32768;

struct LoadTables
{
    std::array<float, HostValues> scaled;
    std::array<uint16_t, HostValues> converted;
};

// The load chain after the merge, evaluated once for every value a cleared sample can have.
const LoadTables &loadTables()
{
    static const LoadTables tables = [] {
        LoadTables t;
        cv::Mat host(1, HostValues, CV_16UC1);
        for (int i = 0; i < HostValues; ++i)
            host.at<uint16_t>(0, i) = uint16_t(i);
        cv::Mat scaled;
        host.convertTo(scaled, CV_32F, 1.0 / 32767.0, 0.0);
        const cv::Mat converted = CvUtils::convert(scaled, CV_16U);
        for (int i = 0; i < HostValues; ++i) {
            t.scaled[size_t(i)] = scaled.at<float>(0, i);
            t.converted[size_t(i)] = converted.at<uint16_t>(0, i);
        }
        return t;
    }();
    return tables;
}

// The save chain after the image's own depth, for 8- and 16-bit images.
cv::Mat saveChain(const cv::Mat &source)
{
    cv::Mat scaled = CvUtils::convert(source, CV_32F);
    if (scaled.empty())
        return scaled;
    cv::Mat samples;
    scaled.convertTo(samples, CV_16U, 32767.0, 0.0);
    cv::threshold(samples, samples, 32767, 32767, cv::THRESH_TRUNC);
    return samples;
}

template <int Depth>
const std::vector<uint16_t> &saveTable()
{
    static const std::vector<uint16_t> table = [] {
        const int count = Depth == CV_8U ? 256 : 65536;
        cv::Mat all(1, count, Depth);
        for (int i = 0; i < count; ++i) {
            if (Depth == CV_8U)
                all.at<uint8_t>(0, i) = uint8_t(i);
            else
                all.at<uint16_t>(0, i) = uint16_t(i);
        }
        const cv::Mat written = saveChain(all);
        return std::vector<uint16_t>(written.ptr<uint16_t>(0), written.ptr<uint16_t>(0) + count);
    }();
    return table;
}

inline uint16_t *planeRow(uint16_t *plane, uint32_t rowBytes, int y)
{
    // The row offset is an unsigned 32-bit product, as the host computes it.
    return reinterpret_cast<uint16_t *>(reinterpret_cast<unsigned char *>(plane) + uint32_t(y) * rowBytes);
}

template <typename T>
struct Range16
{
    T lo = std::numeric_limits<T>::max();
    T hi = std::numeric_limits<T>::lowest();
    void add(T v)
    {
        lo = v < lo ? v : lo;
        hi = v > hi ? v : hi;
    }
    void merge(const Range16 &o)
    {
        lo = std::min(lo, o.lo);
        hi = std::max(hi, o.hi);
    }
};

// Separate loops over contiguous rows so that the compiler can vectorise them.
template <typename T>
void addRow(Range16<T> &range, const T *row, int count, int step)
{
    T lo = range.lo;
    T hi = range.hi;
    for (int i = 0; i < count; ++i) {
        const T v = row[i * step];
        lo = v < lo ? v : lo;
        hi = v > hi ? v : hi;
    }
    range.lo = lo;
    range.hi = hi;
}

int stripesFor(int rows)
{
    return std::max(1, std::min(rows / 64, 64));
}

} // namespace

float PSPlaneTransfer::scaledValue(uint16_t hostSample)
{
    return loadTables().scaled[hostSample & HostMax];
}

cv::Mat PSPlaneTransfer::load(const PlaneView &view, LoadStatistics *statistics)
{
    const LoadTables &tables = loadTables();
    const int width = int(view.width);
    const int height = int(view.height);
    cv::Mat image(height, width, CV_16UC4);
    const uint16_t *lut = tables.converted.data();
    std::mutex statsMutex;
    Range16<uint16_t> raw;
    Range16<uint16_t> out;

    cv::parallel_for_(cv::Range(0, height), [&](const cv::Range &rows) {
        Range16<uint16_t> rawLocal;
        Range16<uint16_t> outLocal;
        const std::vector<uint16_t> opaque(view.mask ? 0 : size_t(width), HostMax);
        for (int y = rows.start; y < rows.end; ++y) {
            const uint16_t *p0 = planeRow(view.planes[0], view.rowBytes, y);
            const uint16_t *p1 = planeRow(view.planes[1], view.rowBytes, y);
            const uint16_t *p2 = planeRow(view.planes[2], view.rowBytes, y);
            const uint16_t *m = view.mask ? planeRow(view.mask, view.rowBytes, y) : opaque.data();
            uint16_t *o = image.ptr<uint16_t>(y);
            for (int x = 0; x < width; ++x) {
                o[4 * x + 0] = lut[p0[x] & HostMax];
                o[4 * x + 1] = lut[p1[x] & HostMax];
                o[4 * x + 2] = lut[p2[x] & HostMax];
                o[4 * x + 3] = lut[m[x] & HostMax];
            }
            if (statistics) {
                for (const uint16_t *p : {p0, p1, p2, m})
                    addRow(rawLocal, p, width, 1);
                addRow(outLocal, o, width * 4, 1);
            }
        }
        std::lock_guard<std::mutex> lock(statsMutex);
        raw.merge(rawLocal);
        out.merge(outLocal);
    }, stripesFor(height));

    if (statistics) {
        statistics->rawMin = raw.lo;
        statistics->rawMax = raw.hi;
        // The last step is strictly increasing, so the extremes of the result come from the
        // extremes of the scaled image.
        const auto clearedOf = [&](uint16_t converted) {
            return uint16_t(std::lower_bound(tables.converted.begin(), tables.converted.end(), converted)
                            - tables.converted.begin());
        };
        statistics->scaledMin = tables.scaled[clearedOf(out.lo)];
        statistics->scaledMax = tables.scaled[clearedOf(out.hi)];
        const uint16_t topLeft[4] = {view.planes[0][0], view.planes[1][0], view.planes[2][0],
                                     view.mask ? view.mask[0] : HostMax};
        for (int c = 0; c < 4; ++c) {
            statistics->rawTopLeft[c] = topLeft[c];
            statistics->scaledTopLeft[c] = tables.scaled[topLeft[c] & HostMax];
        }
    }
    return image;
}

void PSPlaneTransfer::save(const cv::Mat &source, int channels, const PlaneView &view, bool writeMask,
                           SaveStatistics *statistics)
{
    const int width = int(view.width);
    const int height = int(view.height);
    const int stride = source.channels();
    const bool mask = writeMask && channels == 4 && view.mask;
    const std::vector<uint16_t> *table = source.depth() == CV_16U ? &saveTable<CV_16U>()
                                       : source.depth() == CV_8U  ? &saveTable<CV_8U>()
                                                                  : nullptr;
    std::mutex statsMutex;
    Range16<double> sourceRange;
    Range16<double> writtenRange;

    cv::parallel_for_(cv::Range(0, height), [&](const cv::Range &rows) {
        Range16<double> sourceLocal;
        Range16<double> writtenLocal;
        cv::Mat band;
        if (!table) {
            // Depths without a table run the chain itself, one stripe at a time.
            cv::Mat part = source.rowRange(rows.start, rows.end);
            if (stride != channels)
                cv::cvtColor(part, part, cv::COLOR_RGBA2RGB);
            band = saveChain(part);
            if (statistics) {
                double lo, hi;
                cv::minMaxIdx(source.rowRange(rows.start, rows.end), &lo, &hi);
                sourceLocal.lo = lo;
                sourceLocal.hi = hi;
                cv::minMaxIdx(band, &lo, &hi);
                writtenLocal.lo = lo;
                writtenLocal.hi = hi;
            }
        }
        Range16<uint16_t> used;
        Range16<uint16_t> unused;
        for (int y = rows.start; y < rows.end; ++y) {
            uint16_t *p[3] = {planeRow(view.planes[0], view.rowBytes, y), planeRow(view.planes[1], view.rowBytes, y),
                              planeRow(view.planes[2], view.rowBytes, y)};
            uint16_t *m = mask ? planeRow(view.mask, view.rowBytes, y) : nullptr;
            if (!table) {
                const uint16_t *s = band.ptr<uint16_t>(y - rows.start);
                for (int x = 0; x < width; ++x) {
                    p[0][x] = s[channels * x + 0];
                    p[1][x] = s[channels * x + 1];
                    p[2][x] = s[channels * x + 2];
                }
                if (m) {
                    for (int x = 0; x < width; ++x)
                        m[x] = s[4 * x + 3];
                }
                continue;
            }
            const uint16_t *lut = table->data();
            if (source.depth() == CV_16U) {
                const uint16_t *s = source.ptr<uint16_t>(y);
                for (int x = 0; x < width; ++x) {
                    p[0][x] = lut[s[stride * x + 0]];
                    p[1][x] = lut[s[stride * x + 1]];
                    p[2][x] = lut[s[stride * x + 2]];
                }
                if (m) {
                    for (int x = 0; x < width; ++x)
                        m[x] = lut[s[4 * x + 3]];
                }
                if (statistics) {
                    for (int c = 0; c < stride; ++c)
                        addRow(c < channels ? used : unused, s + c, width, stride);
                }
            } else {
                const uint8_t *s = source.ptr<uint8_t>(y);
                for (int x = 0; x < width; ++x) {
                    p[0][x] = lut[s[stride * x + 0]];
                    p[1][x] = lut[s[stride * x + 1]];
                    p[2][x] = lut[s[stride * x + 2]];
                }
                if (m) {
                    for (int x = 0; x < width; ++x)
                        m[x] = lut[s[4 * x + 3]];
                }
                if (statistics) {
                    for (int c = 0; c < stride; ++c) {
                        for (int x = 0; x < width; ++x)
                            (c < channels ? used : unused).add(s[stride * x + c]);
                    }
                }
            }
        }
        if (table && statistics && used.lo <= used.hi) {
            sourceLocal.add(used.lo);
            sourceLocal.add(used.hi);
            if (unused.lo <= unused.hi) {
                sourceLocal.add(unused.lo);
                sourceLocal.add(unused.hi);
            }
            // The chain never decreases, so the extremes written come from the extremes read.
            writtenLocal.add((*table)[used.lo]);
            writtenLocal.add((*table)[used.hi]);
        }
        std::lock_guard<std::mutex> lock(statsMutex);
        sourceRange.merge(sourceLocal);
        writtenRange.merge(writtenLocal);
    }, stripesFor(height));

    if (statistics) {
        statistics->sourceMin = sourceRange.lo;
        statistics->sourceMax = sourceRange.hi;
        statistics->writtenMin = writtenRange.lo;
        statistics->writtenMax = writtenRange.hi;
    }
}
