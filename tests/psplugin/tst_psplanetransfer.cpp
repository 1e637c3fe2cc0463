// The single-pass plane transfers against the plain whole-matrix sequence of steps: equal bit for
// bit, edge values and row padding included, and the padding left alone.

#include "PSReference.h"

#include "psplugin/PSPlaneTransfer.h"

#include <opencv2/core.hpp>

#include <QTest>

#include <memory>
#include <vector>

namespace {

const uint16_t EdgeValues[] = {0, 1, 32766, 32767, 32768, 32769, 65534, 65535, 16384, 49151};

// Planes with row padding, the padding filled with a marker that must survive every write.
struct PlaneBuffers
{
    PlaneBuffers(int w, int h, int padding, bool withMask, uint64_t seed)
        : width(w), height(h), rowBytes(w * 2 + padding)
    {
        cv::RNG rng(seed);
        const size_t words = size_t(rowBytes / 2 + 1) * size_t(h);
        for (auto &plane : planes)
            plane.assign(words, 0xABAB);
        if (withMask)
            mask.assign(words, 0xABAB);
        int edge = 0;
        for (int k = 0; k < 4; ++k) {
            std::vector<uint16_t> &target = k < 3 ? planes[size_t(k)] : mask;
            if (target.empty())
                continue;
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) {
                    const bool useEdge = (x + y + k) % 3 == 0;
                    sample(target, x, y) = useEdge ? EdgeValues[edge++ % std::size(EdgeValues)] : uint16_t(rng.uniform(0, 65536));
                }
            }
        }
    }

    uint16_t &sample(std::vector<uint16_t> &plane, int x, int y)
    {
        return *reinterpret_cast<uint16_t *>(reinterpret_cast<unsigned char *>(plane.data()) + size_t(y) * size_t(rowBytes) + size_t(x) * 2);
    }

    PlaneView view(bool gray)
    {
        PlaneView v;
        for (int k = 0; k < 3; ++k)
            v.planes[k] = planes[size_t(gray ? 0 : k)].data();
        v.mask = mask.empty() ? nullptr : mask.data();
        v.width = uint32_t(width);
        v.height = uint32_t(height);
        v.rowBytes = uint32_t(rowBytes);
        return v;
    }

    PSReference::Planes reference(bool gray)
    {
        PSReference::Planes p;
        for (int k = 0; k < 3; ++k)
            p.planes[k] = planes[size_t(k)].data();
        p.mask = mask.empty() ? nullptr : mask.data();
        p.width = width;
        p.height = height;
        p.rowBytes = rowBytes;
        p.gray = gray;
        return p;
    }

    int width;
    int height;
    int rowBytes;
    std::vector<uint16_t> planes[3];
    std::vector<uint16_t> mask;
};

cv::Mat makeSource(int depth, int channels, int width, int height, uint64_t seed)
{
    cv::RNG rng(seed);
    cv::Mat source(height, width, CV_MAKETYPE(depth, channels));
    if (depth == CV_32F) {
        const float edges[] = {1.0f, 0.5f, 0.0f, -0.1f, 1.2f, 1e-6f, 0.99999f, 2.0f, -5.0f};
        rng.fill(source, cv::RNG::UNIFORM, -0.2, 1.2);
        float *data = source.ptr<float>();
        for (size_t i = 0; i < std::size(edges) && i < source.total() * size_t(channels); ++i)
            data[i * 7 % (source.total() * size_t(channels))] = edges[i];
    } else {
        rng.fill(source, cv::RNG::UNIFORM, 0, depth == CV_16U ? 65536 : 256);
        if (depth == CV_16U) {
            uint16_t *data = source.ptr<uint16_t>();
            for (size_t i = 0; i < std::size(EdgeValues); ++i)
                data[i * 5 % (source.total() * size_t(channels))] = EdgeValues[i];
        }
    }
    return source;
}

} // namespace

class tst_PSPlaneTransfer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void loadEqualsTheStepSequence_data();
    void loadEqualsTheStepSequence();
    void saveEqualsTheStepSequence_data();
    void saveEqualsTheStepSequence();
};

void tst_PSPlaneTransfer::loadEqualsTheStepSequence_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("padding");
    QTest::addColumn<bool>("gray");
    QTest::addColumn<bool>("mask");
    QTest::newRow("colour with mask") << 97 << 61 << 0 << false << true;
    QTest::newRow("gray with mask, padded rows") << 45 << 130 << 10 << true << true;
    QTest::newRow("gray without mask") << 33 << 17 << 2 << true << false;
    QTest::newRow("one row, wide") << 1500 << 1 << 6 << false << false;
    QTest::newRow("one column, tall") << 1 << 700 << 30 << false << true;
}

void tst_PSPlaneTransfer::loadEqualsTheStepSequence()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, padding);
    QFETCH(bool, gray);
    QFETCH(bool, mask);
    PlaneBuffers buffers(width, height, padding, mask, uint64_t(width * 1000 + height));
    const PSReference::Loaded expected = PSReference::load(buffers.reference(gray), false);

    const cv::Mat loaded = PSPlaneTransfer::load(buffers.view(gray), nullptr);
    QCOMPARE(loaded.type(), expected.converted.type());
    QCOMPARE(loaded.size(), expected.converted.size());
    QCOMPARE(cv::norm(loaded, expected.converted, cv::NORM_INF), 0.0);
}

void tst_PSPlaneTransfer::saveEqualsTheStepSequence_data()
{
    QTest::addColumn<int>("depth");
    QTest::addColumn<int>("channels");
    QTest::addColumn<bool>("mask");
    QTest::addColumn<int>("padding");
    QTest::newRow("16-bit, four channels, mask") << int(CV_16U) << 4 << true << 0;
    QTest::newRow("16-bit, four channels, no mask") << int(CV_16U) << 4 << false << 4;
    QTest::newRow("16-bit, three channels, mask") << int(CV_16U) << 3 << true << 2;
    QTest::newRow("16-bit gray, mask") << int(CV_16U) << 1 << true << 0;
    QTest::newRow("8-bit, three channels, no mask") << int(CV_8U) << 3 << false << 8;
    QTest::newRow("float, four channels, mask") << int(CV_32F) << 4 << true << 0;
    QTest::newRow("float, three channels, no mask") << int(CV_32F) << 3 << false << 6;
}

// The source is chosen as the back end chooses it: the image itself when only its alpha is to be
// left out, fullMat otherwise.
void tst_PSPlaneTransfer::saveEqualsTheStepSequence()
{
    QFETCH(int, depth);
    QFETCH(int, channels);
    QFETCH(bool, mask);
    QFETCH(int, padding);
    const int width = 83;
    const int height = 149;
    auto image = std::make_shared<ImageData>(makeSource(depth, channels, width, height, uint64_t(depth * 10 + channels)), cv::Mat());

    PlaneBuffers ours(width, height, padding, mask, 7);
    PlaneBuffers theirs(width, height, padding, mask, 7);
    PSReference::save(image, theirs.reference(false));

    const bool direct = image->mat().channels() == 4 && !mask;
    const cv::Mat source = direct ? image->mat() : image->fullMat(mask);
    PSPlaneTransfer::save(source, direct ? 3 : source.channels(), ours.view(false), mask, nullptr);

    for (int k = 0; k < 3; ++k)
        QVERIFY2(ours.planes[k] == theirs.planes[k], qPrintable(QStringLiteral("plane %1 differs").arg(k)));
    QVERIFY(ours.mask == theirs.mask);
}

QTEST_GUILESS_MAIN(tst_PSPlaneTransfer)
#include "tst_psplanetransfer.moc"
