#include "PSPlaneTransfer.h"

#include "LargeMatAllocator.h"
#include "imaging/CvUtils.h"

#include <opencv2/core.hpp>
#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <limits>
#include <mutex>
#include <vector>

namespace {

using namespace cv;

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

#if CV_SIMD128
// The chains' arithmetic on eight samples at once. The tables are the reference: each vector
// form is used only after it has given the table's answer for every possible input value.
inline v_uint16x8 loadChainVector(const v_uint16x8 &raw)
{
    const v_float32x4 scale = v_setall_f32(float(1.0 / 32767.0));
    const v_float32x4 full = v_setall_f32(65535.0f);
    v_uint32x4 lo, hi;
    v_expand(raw & v_setall_u16(HostMax), lo, hi);
    const v_float32x4 flo = v_cvt_f32(v_reinterpret_as_s32(lo)) * scale;
    const v_float32x4 fhi = v_cvt_f32(v_reinterpret_as_s32(hi)) * scale;
    return v_pack_u(v_round(flo * full), v_round(fhi * full));
}

inline v_uint16x8 saveChainVector(const v_uint16x8 &value)
{
    const v_float32x4 scale = v_setall_f32(float(1.0 / 65535.0));
    const v_float32x4 host = v_setall_f32(32767.0f);
    v_uint32x4 lo, hi;
    v_expand(value, lo, hi);
    const v_float32x4 flo = v_cvt_f32(v_reinterpret_as_s32(lo)) * scale;
    const v_float32x4 fhi = v_cvt_f32(v_reinterpret_as_s32(hi)) * scale;
    return v_min(v_pack_u(v_round(flo * host), v_round(fhi * host)), v_setall_u16(HostMax));
}

template <typename Chain>
bool agreesWithTable(Chain chain, const uint16_t *table, int count, uint16_t inputMask)
{
    alignas(16) uint16_t in[8];
    alignas(16) uint16_t out[8];
    for (int base = 0; base < 65536; base += 8) {
        for (int i = 0; i < 8; ++i)
            in[i] = uint16_t(base + i);
        v_store_aligned(out, chain(v_load_aligned(in)));
        for (int i = 0; i < 8; ++i) {
            const int index = (base + i) & inputMask;
            if (index < count && out[i] != table[index])
                return false;
        }
    }
    return true;
}

bool loadVectorUsable()
{
    static const bool usable = agreesWithTable(loadChainVector, loadTables().converted.data(), HostValues, HostMax);
    return usable;
}

bool saveVectorUsable()
{
    static const bool usable = agreesWithTable(saveChainVector, saveTable<CV_16U>().data(), 65536, 0xFFFF);
    return usable;
}
#endif

// Saving back: the row offset is an unsigned 32-bit product, as the host computes it.
inline uint16_t *planeRow(uint16_t *plane, uint32_t rowBytes, int y)
{
    return reinterpret_cast<uint16_t *>(reinterpret_cast<unsigned char *>(plane) + uint32_t(y) * rowBytes);
}

// Loading: the planes are read as matrices with a row step of `rowBytes`, whose offsets are
// computed in size_t and so never wrap.
inline const uint16_t *loadRow(const uint16_t *plane, uint32_t rowBytes, int y)
{
    return reinterpret_cast<const uint16_t *>(reinterpret_cast<const unsigned char *>(plane) + size_t(y) * rowBytes);
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
    cv::Mat image;
    image.allocator = LargeMatAllocator::instance();
    image.create(height, width, CV_16UC4);
    const uint16_t *lut = tables.converted.data();
#if CV_SIMD128
    const bool vector = loadVectorUsable();
#endif
    std::mutex statsMutex;
    Range16<uint16_t> raw;
    Range16<uint16_t> out;

    cv::parallel_for_(cv::Range(0, height), [&](const cv::Range &rows) {
        Range16<uint16_t> rawLocal;
        Range16<uint16_t> outLocal;
        const std::vector<uint16_t> opaque(view.mask ? 0 : size_t(width), HostMax);
        for (int y = rows.start; y < rows.end; ++y) {
            const uint16_t *p0 = loadRow(view.planes[0], view.rowBytes, y);
            const uint16_t *p1 = loadRow(view.planes[1], view.rowBytes, y);
            const uint16_t *p2 = loadRow(view.planes[2], view.rowBytes, y);
            const uint16_t *m = view.mask ? loadRow(view.mask, view.rowBytes, y) : opaque.data();
            uint16_t *o = image.ptr<uint16_t>(y);
            int x = 0;
#if CV_SIMD128
            if (vector) {
                v_uint16x8 rawLo = v_setall_u16(0xFFFF), rawHi = v_setzero_u16();
                v_uint16x8 outLo = v_setall_u16(0xFFFF), outHi = v_setzero_u16();
                for (; x + 8 <= width; x += 8) {
                    const v_uint16x8 r0 = v_load(p0 + x), r1 = v_load(p1 + x), r2 = v_load(p2 + x), r3 = v_load(m + x);
                    const v_uint16x8 c0 = loadChainVector(r0), c1 = loadChainVector(r1), c2 = loadChainVector(r2),
                                     c3 = loadChainVector(r3);
                    v_store_interleave(o + 4 * x, c0, c1, c2, c3);
                    rawLo = v_min(rawLo, v_min(v_min(r0, r1), v_min(r2, r3)));
                    rawHi = v_max(rawHi, v_max(v_max(r0, r1), v_max(r2, r3)));
                    outLo = v_min(outLo, v_min(v_min(c0, c1), v_min(c2, c3)));
                    outHi = v_max(outHi, v_max(v_max(c0, c1), v_max(c2, c3)));
                }
                if (statistics && x > 0) {
                    alignas(16) uint16_t lanes[4][8];
                    v_store_aligned(lanes[0], rawLo);
                    v_store_aligned(lanes[1], rawHi);
                    v_store_aligned(lanes[2], outLo);
                    v_store_aligned(lanes[3], outHi);
                    for (int i = 0; i < 8; ++i) {
                        rawLocal.add(lanes[0][i]);
                        rawLocal.add(lanes[1][i]);
                        outLocal.add(lanes[2][i]);
                        outLocal.add(lanes[3][i]);
                    }
                }
            }
#endif
            const int vectorEnd = x;
            for (; x < width; ++x) {
                o[4 * x + 0] = lut[p0[x] & HostMax];
                o[4 * x + 1] = lut[p1[x] & HostMax];
                o[4 * x + 2] = lut[p2[x] & HostMax];
                o[4 * x + 3] = lut[m[x] & HostMax];
            }
            if (statistics && vectorEnd < width) {
                for (const uint16_t *p : {p0, p1, p2, m})
                    addRow(rawLocal, p + vectorEnd, width - vectorEnd, 1);
                addRow(outLocal, o + 4 * vectorEnd, (width - vectorEnd) * 4, 1);
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
#if CV_SIMD128
    const bool vector = source.depth() == CV_16U && saveVectorUsable();
#endif
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
                int x = 0;
#if CV_SIMD128
                if (vector && (stride == 3 || stride == 4)) {
                    v_uint16x8 usedLo = v_setall_u16(0xFFFF), usedHi = v_setzero_u16();
                    v_uint16x8 unusedLo = v_setall_u16(0xFFFF), unusedHi = v_setzero_u16();
                    for (; x + 8 <= width; x += 8) {
                        v_uint16x8 a, b, c, d = v_setzero_u16();
                        if (stride == 4)
                            v_load_deinterleave(s + 4 * x, a, b, c, d);
                        else
                            v_load_deinterleave(s + 3 * x, a, b, c);
                        v_store(p[0] + x, saveChainVector(a));
                        v_store(p[1] + x, saveChainVector(b));
                        v_store(p[2] + x, saveChainVector(c));
                        v_uint16x8 lo = v_min(v_min(a, b), c);
                        v_uint16x8 hi = v_max(v_max(a, b), c);
                        if (stride == 4) {
                            if (m)
                                v_store(m + x, saveChainVector(d));
                            if (channels == 4) {
                                lo = v_min(lo, d);
                                hi = v_max(hi, d);
                            } else {
                                unusedLo = v_min(unusedLo, d);
                                unusedHi = v_max(unusedHi, d);
                            }
                        }
                        usedLo = v_min(usedLo, lo);
                        usedHi = v_max(usedHi, hi);
                    }
                    if (statistics && x > 0) {
                        alignas(16) uint16_t lanes[4][8];
                        v_store_aligned(lanes[0], usedLo);
                        v_store_aligned(lanes[1], usedHi);
                        v_store_aligned(lanes[2], unusedLo);
                        v_store_aligned(lanes[3], unusedHi);
                        for (int i = 0; i < 8; ++i) {
                            used.add(lanes[0][i]);
                            used.add(lanes[1][i]);
                            if (stride == 4 && channels == 3) {
                                unused.add(lanes[2][i]);
                                unused.add(lanes[3][i]);
                            }
                        }
                    }
                }
#endif
                const int vectorEnd = x;
                for (; x < width; ++x) {
                    p[0][x] = lut[s[stride * x + 0]];
                    p[1][x] = lut[s[stride * x + 1]];
                    p[2][x] = lut[s[stride * x + 2]];
                }
                if (m) {
                    for (int x = vectorEnd; x < width; ++x)
                        m[x] = lut[s[4 * x + 3]];
                }
                if (statistics && vectorEnd < width) {
                    for (int c = 0; c < stride; ++c)
                        addRow(c < channels ? used : unused, s + stride * vectorEnd + c, width - vectorEnd, stride);
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
