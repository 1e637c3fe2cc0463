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
#include <optional>
#include <type_traits>
#include <vector>

namespace {

using namespace cv;

constexpr uint16_t HostMax = PSPlaneTransfer::HostMax;
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

// The save chain from the image's own depth on.
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

// The save chain for 8- and 16-bit images, evaluated once for every sample value.
template<int Depth>
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

template<typename T>
struct SampleRange
{
    T lo = std::numeric_limits<T>::max();
    T hi = std::numeric_limits<T>::lowest();

    bool isEmpty() const { return hi < lo; }
    void add(T v)
    {
        lo = v < lo ? v : lo;
        hi = v > hi ? v : hi;
    }
    void add(const SampleRange &other)
    {
        lo = std::min(lo, other.lo);
        hi = std::max(hi, other.hi);
    }
};

// Separate loops over contiguous rows so that the compiler can vectorise them.
template<typename Sample>
void addSamples(SampleRange<uint16_t> &range, const Sample *row, int count, int step, uint16_t bits = 0xFFFF)
{
    uint16_t lo = range.lo;
    uint16_t hi = range.hi;
    for (int i = 0; i < count; ++i) {
        const uint16_t v = uint16_t(row[i * step] & bits);
        lo = v < lo ? v : lo;
        hi = v > hi ? v : hi;
    }
    range.lo = lo;
    range.hi = hi;
}

SampleRange<double> extremesOf(const cv::Mat &samples)
{
    SampleRange<double> range;
    cv::minMaxIdx(samples, &range.lo, &range.hi);
    return range;
}

// What a pass notes: the samples as it reads them, and as it reports them once the chain has
// worked on them (the load: with the top bit cleared; the save: as written).
template<typename T>
struct PassRanges
{
    SampleRange<T> read;
    SampleRange<T> chained;

    void add(const PassRanges &other)
    {
        read.add(other.read);
        chained.add(other.chained);
    }
};

using LoadRanges = PassRanges<uint16_t>;
using SaveRanges = PassRanges<double>;

// What the table paths of the save note: the channels used and those left out. The chain never
// decreases, so the extremes written are the table's values at the extremes read.
struct ChannelRanges
{
    SampleRange<uint16_t> used;
    SampleRange<uint16_t> unused;

    // The row's samples from column `from` on, channel by channel.
    template<typename Sample>
    void addRow(const Sample *row, int stride, int channels, int from, int width)
    {
        for (int c = 0; c < stride; ++c)
            addSamples(c < channels ? used : unused, row + stride * from + c, width - from, stride);
    }

    SaveRanges through(const std::vector<uint16_t> &table) const
    {
        SaveRanges ranges;
        if (used.isEmpty())
            return ranges;
        ranges.read.add(used.lo);
        ranges.read.add(used.hi);
        if (!unused.isEmpty()) {
            ranges.read.add(unused.lo);
            ranges.read.add(unused.hi);
        }
        ranges.chained.add(table[used.lo]);
        ranges.chained.add(table[used.hi]);
        return ranges;
    }
};

#if CV_SIMD128
// The chains' arithmetic on eight samples at once. The tables are the reference: each vector
// form is used only after it has given the table's answer for every possible input value.

// The load chain gives twice the cleared sample plus 0 or 1, the rounding of its float steps,
// and that last bit flips at a handful of sample values. A few integer compares take the place
// of the float steps done on vectors, whose instructions are, with the fresh pages' faults, what
// a load costs. The flips are read off the table, so the table stays the one reference.
struct LoadFlips
{
    static constexpr int Count = 4;
    v_int16x8 below[Count]; // the sample before each flip; the largest int16 where unused
};

// Null when the table is not of that shape (a bit other than 0 or 1, or too many flips).
const LoadFlips *loadFlips()
{
    static const std::optional<LoadFlips> flips = []() -> std::optional<LoadFlips> {
        const uint16_t *table = loadTables().converted.data();
        std::array<int16_t, LoadFlips::Count> below;
        below.fill(std::numeric_limits<int16_t>::max());
        int count = 0;
        int bit = 0;
        for (int c = 0; c < HostValues; ++c) {
            const int next = table[c] - 2 * c;
            if (next == bit)
                continue;
            if ((next != 0 && next != 1) || count == LoadFlips::Count)
                return std::nullopt;
            below[size_t(count++)] = int16_t(c - 1);
            bit = next;
        }
        LoadFlips vectors;
        for (int i = 0; i < LoadFlips::Count; ++i)
            vectors.below[i] = v_setall_s16(below[size_t(i)]);
        return vectors;
    }();
    return flips ? &*flips : nullptr;
}

// Cleared samples are below 32768, so they compare as signed; each compare past a flip toggles
// the bit, which as an all-ones lane subtracts as +1.
inline v_uint16x8 loadChainVector(const v_uint16x8 &cleared, const LoadFlips &flips)
{
    const v_int16x8 samples = v_reinterpret_as_s16(cleared);
    v_int16x8 bit = samples > flips.below[0];
    for (int i = 1; i < LoadFlips::Count; ++i)
        bit = bit ^ (samples > flips.below[i]);
    return v_sub_wrap(cleared + cleared, v_reinterpret_as_u16(bit));
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

// Every input from 0 to count - 1 (a multiple of eight) through the vector form.
template<typename Chain>
bool agreesWithTable(Chain chain, const uint16_t *table, int count)
{
    alignas(16) uint16_t in[8];
    alignas(16) uint16_t out[8];
    for (int base = 0; base < count; base += 8) {
        for (int i = 0; i < 8; ++i)
            in[i] = uint16_t(base + i);
        v_store_aligned(out, chain(v_load_aligned(in)));
        for (int i = 0; i < 8; ++i) {
            if (out[i] != table[base + i])
                return false;
        }
    }
    return true;
}

bool loadVectorUsable()
{
    static const bool usable =
        loadFlips()
        && agreesWithTable([](const v_uint16x8 &cleared) { return loadChainVector(cleared, *loadFlips()); },
                           loadTables().converted.data(), HostValues);
    return usable;
}

bool saveVectorUsable()
{
    static const bool usable = agreesWithTable(saveChainVector, saveTable<CV_16U>().data(), 65536);
    return usable;
}

// Extremes over eight lanes, folded into a SampleRange once a row is done. SSE2 takes the
// smaller or larger of 16-bit lanes in one instruction only when it compares them as signed, so
// samples are kept with their top bit flipped, which keeps their order; samples known to lie
// below 32768 (`Cleared`) are in order as they are.
template<bool Cleared = false>
struct VectorRange
{
    v_int16x8 lo = v_setall_s16(std::numeric_limits<int16_t>::max());
    v_int16x8 hi = v_setall_s16(std::numeric_limits<int16_t>::min());

    static v_int16x8 ordered(const v_uint16x8 &a)
    {
        const v_int16x8 s = v_reinterpret_as_s16(a);
        return Cleared ? s : s ^ v_setall_s16(std::numeric_limits<int16_t>::min());
    }
    void add(const v_uint16x8 &a)
    {
        const v_int16x8 x = ordered(a);
        lo = v_min(lo, x);
        hi = v_max(hi, x);
    }
    void add(const v_uint16x8 &a, const v_uint16x8 &b, const v_uint16x8 &c)
    {
        const v_int16x8 x = ordered(a), y = ordered(b), z = ordered(c);
        lo = v_min(lo, v_min(v_min(x, y), z));
        hi = v_max(hi, v_max(v_max(x, y), z));
    }
    void add(const v_uint16x8 &a, const v_uint16x8 &b, const v_uint16x8 &c, const v_uint16x8 &d)
    {
        const v_int16x8 x = ordered(a), y = ordered(b), z = ordered(c), w = ordered(d);
        lo = v_min(lo, v_min(v_min(x, y), v_min(z, w)));
        hi = v_max(hi, v_max(v_max(x, y), v_max(z, w)));
    }
    void foldInto(SampleRange<uint16_t> &range) const
    {
        const uint16_t flip = Cleared ? 0 : 0x8000;
        alignas(16) int16_t lanes[2][8];
        v_store_aligned(lanes[0], lo);
        v_store_aligned(lanes[1], hi);
        for (int i = 0; i < 8; ++i) {
            range.add(uint16_t(uint16_t(lanes[0][i]) ^ flip));
            range.add(uint16_t(uint16_t(lanes[1][i]) ^ flip));
        }
    }
};
#endif

// Runs `stripe` over the rows in parallel stripes and adds up the ranges each one notes.
template<typename Ranges, typename Stripe>
Ranges overStripes(int rows, Stripe stripe)
{
    std::mutex mutex;
    Ranges total;
    cv::parallel_for_(
        cv::Range(0, rows),
        [&](const cv::Range &part) {
            const Ranges noted = stripe(part);
            const std::lock_guard<std::mutex> lock(mutex);
            total.add(noted);
        },
        std::max(1, std::min(rows / 64, 64)));
    return total;
}

// Loading: the planes are read as matrices with a row step of `rowBytes`, whose offsets are
// computed in size_t and so never wrap.
inline const uint16_t *loadRow(const uint16_t *plane, uint32_t rowBytes, int y)
{
    return reinterpret_cast<const uint16_t *>(reinterpret_cast<const unsigned char *>(plane) + size_t(y) * rowBytes);
}

#if CV_SIMD128
// Eight pixels a step from the row's start; returns where the steps end.
int loadVector(const uint16_t *const in[4], uint16_t *out, int width, LoadRanges *ranges)
{
    const v_uint16x8 valueBits = v_setall_u16(HostMax);
    const LoadFlips &flips = *loadFlips();
    VectorRange<> read;
    VectorRange<true> cleared;
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        const v_uint16x8 r0 = v_load(in[0] + x), r1 = v_load(in[1] + x), r2 = v_load(in[2] + x), r3 = v_load(in[3] + x);
        const v_uint16x8 c0 = r0 & valueBits, c1 = r1 & valueBits, c2 = r2 & valueBits, c3 = r3 & valueBits;
        v_store_interleave(out + 4 * x, loadChainVector(c0, flips), loadChainVector(c1, flips),
                           loadChainVector(c2, flips), loadChainVector(c3, flips));
        read.add(r0, r1, r2, r3);
        cleared.add(c0, c1, c2, c3);
    }
    if (ranges && x > 0) {
        read.foldInto(ranges->read);
        cleared.foldInto(ranges->chained);
    }
    return x;
}
#else
bool loadVectorUsable()
{
    return false;
}

int loadVector(const uint16_t *const *, uint16_t *, int, LoadRanges *)
{
    return 0;
}
#endif

// The row from `from` on, sample by sample through the table.
void loadThroughTable(const uint16_t *const in[4], uint16_t *out, int from, int width, LoadRanges *ranges)
{
    const uint16_t *lut = loadTables().converted.data();
    for (int x = from; x < width; ++x) {
        out[4 * x + 0] = lut[in[0][x] & HostMax];
        out[4 * x + 1] = lut[in[1][x] & HostMax];
        out[4 * x + 2] = lut[in[2][x] & HostMax];
        out[4 * x + 3] = lut[in[3][x] & HostMax];
    }
    if (!ranges)
        return;
    for (int c = 0; c < 4; ++c) {
        addSamples(ranges->read, in[c] + from, width - from, 1);
        addSamples(ranges->chained, in[c] + from, width - from, 1, HostMax);
    }
}

// A plane without mask reads as a row of opaque samples.
LoadRanges loadStripe(const PlaneView &view, cv::Mat &image, const cv::Range &rows, bool noteExtremes)
{
    const int width = int(view.width);
    const std::vector<uint16_t> opaque(view.mask ? 0 : size_t(width), HostMax);
    const bool vector = loadVectorUsable();
    LoadRanges ranges;
    LoadRanges *noted = noteExtremes ? &ranges : nullptr;
    for (int y = rows.start; y < rows.end; ++y) {
        const uint16_t *const in[4] = {loadRow(view.planes[0], view.rowBytes, y),
                                       loadRow(view.planes[1], view.rowBytes, y),
                                       loadRow(view.planes[2], view.rowBytes, y),
                                       view.mask ? loadRow(view.mask, view.rowBytes, y) : opaque.data()};
        uint16_t *out = image.ptr<uint16_t>(y);
        const int vectorEnd = vector ? loadVector(in, out, width, noted) : 0;
        loadThroughTable(in, out, vectorEnd, width, noted);
    }
    return ranges;
}

// One row of the host's planes; the mask is null when channel 3 is not written.
struct PlaneRow
{
    uint16_t *planes[3];
    uint16_t *mask;
};

// Saving back: the row offset is an unsigned 32-bit product, as the host computes it.
PlaneRow planeRow(const PlaneView &view, bool writeMask, int y)
{
    const auto at = [&view, y](uint16_t *plane) {
        return reinterpret_cast<uint16_t *>(reinterpret_cast<unsigned char *>(plane) + uint32_t(y) * view.rowBytes);
    };
    return {{at(view.planes[0]), at(view.planes[1]), at(view.planes[2])}, writeMask ? at(view.mask) : nullptr};
}

// One save: the source, how many of its interleaved channels are used, and where they go.
struct SaveJob
{
    const cv::Mat &source;
    int channels;
    const PlaneView &view;
    bool writeMask;
};

// Channels 0 to 2 of an interleaved row into the colour planes and channel 3 into the mask, from
// column `from` on, each sample through `value`.
template<typename Sample, typename Value>
void writeRow(const Sample *row, int stride, const PlaneRow &target, int from, int width, Value value)
{
    for (int x = from; x < width; ++x) {
        target.planes[0][x] = value(row[stride * x + 0]);
        target.planes[1][x] = value(row[stride * x + 1]);
        target.planes[2][x] = value(row[stride * x + 2]);
    }
    if (target.mask) {
        for (int x = from; x < width; ++x)
            target.mask[x] = value(row[stride * x + 3]);
    }
}

#if CV_SIMD128
// Eight pixels a step from the row's start, for three or four interleaved channels; returns
// where the steps end.
int saveVector(const uint16_t *row, int stride, int channels, const PlaneRow &target, int width, ChannelRanges *ranges)
{
    VectorRange<> used;
    VectorRange<> unused;
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        v_uint16x8 a, b, c, d = v_setzero_u16();
        if (stride == 4)
            v_load_deinterleave(row + 4 * x, a, b, c, d);
        else
            v_load_deinterleave(row + 3 * x, a, b, c);
        v_store(target.planes[0] + x, saveChainVector(a));
        v_store(target.planes[1] + x, saveChainVector(b));
        v_store(target.planes[2] + x, saveChainVector(c));
        if (target.mask)
            v_store(target.mask + x, saveChainVector(d));
        if (stride == 4 && channels == 4) {
            used.add(a, b, c, d);
        } else {
            used.add(a, b, c);
            if (stride == 4)
                unused.add(d);
        }
    }
    if (ranges && x > 0) {
        used.foldInto(ranges->used);
        if (stride == 4 && channels == 3)
            unused.foldInto(ranges->unused);
    }
    return x;
}
#else
bool saveVectorUsable()
{
    return false;
}

int saveVector(const uint16_t *, int, int, const PlaneRow &, int, ChannelRanges *)
{
    return 0;
}
#endif

// 8-bit rows take no vector steps.
int saveVector(const uint8_t *, int, int, const PlaneRow &, int, ChannelRanges *)
{
    return 0;
}

// 16-bit rows of three or four channels take eight pixels a step first; the rest of a row, and
// every 8-bit row, goes sample by sample through the depth's table.
template<typename Sample>
SaveRanges saveStripeThroughTable(const SaveJob &job, const cv::Range &rows, bool noteExtremes)
{
    const std::vector<uint16_t> &table = saveTable < std::is_same_v<Sample, uint8_t> ? CV_8U : CV_16U > ();
    const uint16_t *lut = table.data();
    const int width = int(job.view.width);
    const int stride = job.source.channels();
    const bool vector = std::is_same_v<Sample, uint16_t> && (stride == 3 || stride == 4) && saveVectorUsable();
    ChannelRanges ranges;
    ChannelRanges *noted = noteExtremes ? &ranges : nullptr;
    for (int y = rows.start; y < rows.end; ++y) {
        const Sample *row = job.source.ptr<Sample>(y);
        const PlaneRow target = planeRow(job.view, job.writeMask, y);
        const int vectorEnd = vector ? saveVector(row, stride, job.channels, target, width, noted) : 0;
        writeRow(row, stride, target, vectorEnd, width, [lut](Sample v) { return lut[v]; });
        if (noted)
            noted->addRow(row, stride, job.channels, vectorEnd, width);
    }
    return noteExtremes ? ranges.through(table) : SaveRanges();
}

// Depths without a table run the chain itself, one stripe at a time.
SaveRanges saveStripeThroughChain(const SaveJob &job, const cv::Range &rows, bool noteExtremes)
{
    const cv::Mat part = job.source.rowRange(rows.start, rows.end);
    cv::Mat used = part;
    if (part.channels() != job.channels)
        cv::cvtColor(part, used, cv::COLOR_RGBA2RGB);
    const cv::Mat band = saveChain(used);
    const int width = int(job.view.width);
    for (int y = rows.start; y < rows.end; ++y) {
        const PlaneRow target = planeRow(job.view, job.writeMask, y);
        writeRow(band.ptr<uint16_t>(y - rows.start), job.channels, target, 0, width, [](uint16_t v) { return v; });
    }
    SaveRanges ranges;
    if (noteExtremes) {
        ranges.read = extremesOf(part);
        ranges.chained = extremesOf(band);
    }
    return ranges;
}

SaveRanges saveStripe(const SaveJob &job, const cv::Range &rows, bool noteExtremes)
{
    switch (job.source.depth()) {
    case CV_16U:
        return saveStripeThroughTable<uint16_t>(job, rows, noteExtremes);
    case CV_8U:
        return saveStripeThroughTable<uint8_t>(job, rows, noteExtremes);
    default:
        return saveStripeThroughChain(job, rows, noteExtremes);
    }
}

} // namespace

bool PSPlaneTransfer::usesVectors()
{
    return loadVectorUsable() && saveVectorUsable();
}

float PSPlaneTransfer::scaledValue(uint16_t hostSample)
{
    return loadTables().scaled[hostSample & HostMax];
}

cv::Mat PSPlaneTransfer::load(const PlaneView &view, LoadExtremes *extremes)
{
    cv::Mat image;
    image.allocator = LargeMatAllocator::instance();
    image.create(int(view.height), int(view.width), CV_16UC4);
    const LoadRanges ranges = overStripes<LoadRanges>(
        int(view.height), [&](const cv::Range &rows) { return loadStripe(view, image, rows, extremes != nullptr); });
    if (extremes)
        *extremes = {ranges.read.lo, ranges.read.hi, ranges.chained.lo, ranges.chained.hi};
    return image;
}

void PSPlaneTransfer::save(const cv::Mat &source, int channels, const PlaneView &view, bool writeMask,
                           SaveExtremes *extremes)
{
    const SaveJob job{source, channels, view, writeMask && channels == 4 && view.mask};
    const SaveRanges ranges = overStripes<SaveRanges>(
        int(view.height), [&](const cv::Range &rows) { return saveStripe(job, rows, extremes != nullptr); });
    if (extremes)
        *extremes = {ranges.read.lo, ranges.read.hi, ranges.chained.lo, ranges.chained.hi};
}
