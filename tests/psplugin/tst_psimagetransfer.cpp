// PSPluginData's image transfers in this process over real shared memory: the description that
// loadImage emits, the thumbnail, the signal order, saveImage's writes and refusals, and the values
// of their debug lines. Pixels and values are held against the plain whole-matrix sequence of
// steps in PSReference.

#include "PSReference.h"
#include "PSTestSupport.h"
#include "TestHelpers.h"

#include "psplugin/PSPlaneTransfer.h"
#include "psplugin/PSPluginData.h"

#include <QDebug>
#include <QDir>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <opencv2/core.hpp>
#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <csignal>
#include <functional>
#include <memory>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

using namespace PSTestSupport;

namespace {

// What becomes of the thumbnail: written, left out as too large, or its write fails.
constexpr int Written = 0;
constexpr int TooLarge = 1;
constexpr int Unwritable = 2;

PSReference::Planes referencePlanes(FilterHostSession &session, bool gray)
{
    PSReference::Planes p;
    for (int k = 0; k < 3; ++k)
        p.planes[k] = reinterpret_cast<uint16_t *>(session.plane(k).data());
    p.mask = session.mask() ? reinterpret_cast<uint16_t *>(session.mask()->data()) : nullptr;
    p.width = int(session.record()->width);
    p.height = int(session.record()->height);
    p.rowBytes = int(session.record()->rowBytes);
    p.gray = gray;
    return p;
}

// Edge samples in the first pixels of every plane: 32768 and 65535 have the top bit set.
void putEdgeValues(HostImage &image)
{
    const uint16_t edges[] = {0, 32767, 32768, 65535, 1, 49152};
    for (cv::Mat *plane : {&image.planes[0], &image.planes[1], &image.planes[2], &image.mask}) {
        if (plane->empty())
            continue;
        for (int i = 0; i < 6 && i < int(plane->total()); ++i)
            plane->at<uint16_t>(i / plane->cols, i % plane->cols) = edges[(i + int(plane == &image.mask)) % 6];
    }
}

QByteArray planeBytes(HostChannel &channel)
{
    return QByteArray(reinterpret_cast<const char *>(channel.data()), qsizetype(channel.dataSize()));
}

// The planes as handed over, copied into `copies`, for the reference to write into.
PSReference::Planes planeCopies(FilterHostSession &session, QByteArray (&copies)[4])
{
    HostChannel *sources[4] = {&session.plane(0), &session.plane(1), &session.plane(2), session.mask()};
    PSReference::Planes reference = referencePlanes(session, false);
    for (int k = 0; k < 4; ++k) {
        copies[k] = sources[k] ? planeBytes(*sources[k]) : QByteArray();
        (k < 3 ? reference.planes[k] : reference.mask) = sources[k] ? reinterpret_cast<uint16_t *>(copies[k].data()) : nullptr;
    }
    return reference;
}

// Samples put into an image: channel, column, row, value.
using Samples = QList<QList<double>>;

HostImage makeFlatHostImage(int width, int height, bool gray, bool mask, const Samples &samples)
{
    HostImage image{width, height, gray, {}, {}};
    for (auto &plane : image.planes)
        plane = cv::Mat(height, width, CV_16UC1, cv::Scalar(1000));
    if (mask)
        image.mask = cv::Mat(height, width, CV_16UC1, cv::Scalar(1000));
    for (const QList<double> &s : samples)
        (s[0] < 3 ? image.planes[int(s[0])] : image.mask).at<uint16_t>(int(s[2]), int(s[1])) = uint16_t(s[3]);
    return image;
}

cv::Mat makeFlatSource(int depth, int channels, int width, int height, const Samples &samples)
{
    const double flat = depth == CV_16U ? 20000 : depth == CV_8U ? 100 : 0.3;
    cv::Mat source(height, width, CV_MAKETYPE(depth, channels), cv::Scalar::all(flat));
    cv::Mat values;
    source.convertTo(values, CV_64F);
    values = values.reshape(1);
    for (const QList<double> &s : samples)
        values.at<double>(int(s[2]), int(s[1]) * channels + int(s[0])) = s[3];
    values.reshape(channels).convertTo(source, depth);
    return source;
}

// The debug lines logged while `call` ran that begin with one of `prefixes`.
QStringList debugLinesOf(const std::function<void()> &call, const QStringList &prefixes)
{
    QStringList lines;
    for (const QString &line : messagesDuring(QtDebugMsg, call)) {
        if (std::any_of(prefixes.begin(), prefixes.end(), [&](const QString &prefix) { return line.startsWith(prefix); }))
            lines << line;
    }
    return lines;
}

// A line as the message logger writes it: the values separated by blanks.
template <typename... Values>
QString debugLine(const Values &...values)
{
    QString text;
    {
        QDebug stream(&text);
        (stream << ... << values);
    }
    return text.trimmed();
}

// Random samples with the edge values of each depth among them: the top bit, the ends of the
// range, and floats outside 0..1.
cv::Mat makeSource(int depth, int channels, int width, int height)
{
    cv::RNG rng(uint64_t(depth * 10 + channels));
    cv::Mat source(height, width, CV_MAKETYPE(depth, channels));
    rng.fill(source, cv::RNG::UNIFORM, depth == CV_32F ? -0.2 : 0, depth == CV_32F ? 1.2 : depth == CV_16U ? 65536 : 256);
    const size_t values = source.total() * size_t(channels);
    if (depth == CV_16U) {
        const uint16_t edges[] = {0, 1, 32766, 32767, 32768, 65535};
        for (size_t i = 0; i < std::size(edges); ++i)
            source.ptr<uint16_t>()[i * 5 % values] = edges[i];
    } else if (depth == CV_32F) {
        const float edges[] = {1.0f, 0.5f, 0.0f, -0.1f, 1.2f, 1e-6f, 0.99999f, 2.0f, -5.0f};
        for (size_t i = 0; i < std::size(edges); ++i)
            source.ptr<float>()[i * 7 % values] = edges[i];
    }
    return source;
}

} // namespace

class tst_PSImageTransfer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void loadDescribesTheImage_data();
    void loadDescribesTheImage();
    void saveEqualsTheStepSequence_data();
    void saveEqualsTheStepSequence();
    void saveRefusals_data();
    void saveRefusals();
    void loadDebugLines_data();
    void loadDebugLines();
    void saveDebugLines_data();
    void saveDebugLines();
    void passesTakeVectors();

private:
    QTemporaryDir m_temp;
    FilterHostSession *m_session = nullptr;
    PSPluginData *m_backEnd = nullptr;
};

void tst_PSImageTransfer::initTestCase()
{
    QVERIFY(m_temp.isValid());
    // The debug lines' values are checked; a rule of the environment must not silence them.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=true"));
    TestHelpers::setTemporaryFolder(m_temp.path());
#ifdef Q_OS_UNIX
    std::signal(SIGXFSZ, SIG_IGN); // a write beyond the file size limit fails instead
#endif
}

void tst_PSImageTransfer::cleanup()
{
    endBackEnd(m_session, m_backEnd);
}

void tst_PSImageTransfer::loadDescribesTheImage_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<bool>("gray");
    QTest::addColumn<bool>("mask");
    // A profile's channel claims 4 bytes: the record's iccProfileSize is the length, and the
    // channel's own size must neither cut nor refuse it.
    QTest::addColumn<QByteArray>("icc");
    QTest::addColumn<int>("thumbnail");
    QTest::newRow("colour, mask, profile") << 300 << 120 << false << true << QByteArray("\x00\x01profile", 9) << Written;
    QTest::newRow("colour, no mask") << 90 << 160 << false << false << QByteArray() << Written;
    QTest::newRow("gray, mask, profile") << 150 << 150 << true << true << QByteArray("gray profile") << Written;
    // Thin strips load like any image; only a thumbnail beyond 16 megapixels is left out, and an
    // earlier run's thumbnail goes with it (as when the write fails). Kept far below the limit
    // otherwise: writing a PNG of megapixels takes minutes under ThreadSanitizer.
    QTest::newRow("1000 x 50, thumbnail 4000 x 200") << 1000 << 50 << false << false << QByteArray() << Written;
    QTest::newRow("3 x 1300, thumbnail 200 x 86666") << 3 << 1300 << false << false << QByteArray() << TooLarge;
    QTest::newRow("1 x 100000") << 1 << 100000 << false << true << QByteArray() << TooLarge;
    QTest::newRow("thumbnail write fails") << 2000 << 200 << false << false << QByteArray() << Unwritable;
}

void tst_PSImageTransfer::loadDescribesTheImage()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(bool, gray);
    QFETCH(bool, mask);
    QFETCH(QByteArray, icc);
    QFETCH(int, thumbnail);
    const QString thumbnailPath = QDir(m_temp.path()).filePath(QStringLiteral("thumbnail-orlx-ps-plugin.png"));
    QVERIFY(cv::imwrite(thumbnailPath.toStdString(), cv::Mat(4, 4, CV_8UC3, cv::Scalar(1, 2, 3))));
    HostImage host = makeHostImage(width, height, gray, mask);
    putEdgeValues(host);
    HostSetup setup;
    setup.icc = icc;
    setup.rowPadding = 6;
    m_session = new FilterHostSession;
    QVERIFY(createReleasedSession(*m_session, host, setup));
    if (!icc.isEmpty())
        m_session->icc().info()->dataSize = 4;
    m_backEnd = new PSPluginData();
    m_backEnd->start();
    const PSReference::Loaded expected = PSReference::load(referencePlanes(*m_session, gray), thumbnail == Written);

    QStringList events;
    bool loadingSeenDuringLoad = false;
    QVariantMap description;
    connect(m_backEnd, &PluginData::isLoadingChanged, this, [&](bool value) {
        events << QStringLiteral("loading %1").arg(value);
        if (value)
            loadingSeenDuringLoad = m_backEnd->isLoading();
    });
    connect(m_backEnd, &PluginData::imageLoaded, this, [&](const QString &id, const QVariantMap &data) {
        events << QStringLiteral("loaded ") + id;
        description = data;
    });
    if (thumbnail == TooLarge)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Thumbnail not made: a %1 x %2 image").arg(width).arg(height)));
#ifdef Q_OS_UNIX
    rlimit limit;
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit previous = limit;
    if (thumbnail == Unwritable)
        limit.rlim_cur = 64;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
    m_backEnd->loadImage(QStringLiteral("the id"), true);
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &previous), 0);
#else
    if (thumbnail == Unwritable)
        QSKIP("A failing write is made here with a POSIX file size limit");
    m_backEnd->loadImage(QStringLiteral("the id"), true);
#endif

    QCOMPARE(events, (QStringList{"loading 1", "loaded the id", "loading 0"}));
    QVERIFY(loadingSeenDuringLoad);
    QVariantMap metadata{{"EXIF:SamplesPerPixel", gray ? 1 : 3}};
    if (!icc.isEmpty())
        metadata.insert("ICC_Profile:ICC_Profile", icc);
    QCOMPARE(description.value("metadata").toMap(), metadata);
    QCOMPARE(description.value("colorInfo").toMap(), (QVariantMap{{"grayscale", gray ? 1 : 0}}));
    QCOMPARE(description.value("uid").toString(), QStringLiteral("psplugin image"));
    QCOMPARE(description.value("filepath").toString(), QStringLiteral("Adobe Photoshop Image"));

    const auto image = description.value("image").value<std::shared_ptr<ImageData>>();
    QVERIFY(image);
    QCOMPARE(image->mat().type(), CV_16UC4);
    QCOMPARE(cv::norm(image->mat(), expected.converted, cv::NORM_INF), 0.0);

    QCOMPARE(description.value("thumbnail").toString(), thumbnailPath);
    // Neither an earlier picture nor a half-written file is left where the thumbnail goes.
    QCOMPARE(QDir(m_temp.path()).entryList(QDir::Files | QDir::Hidden),
             thumbnail == Written ? QStringList{"thumbnail-orlx-ps-plugin.png"} : QStringList());
    if (thumbnail != Written)
        return;
    const cv::Mat written = cv::imread(thumbnailPath.toStdString(), cv::IMREAD_UNCHANGED);
    QCOMPARE(written.cols, PSReference::thumbnailSize(width, height).width);
    QCOMPARE(written.rows, PSReference::thumbnailSize(width, height).height);
    cv::Mat reference8;
    expected.thumbnail.convertTo(reference8, CV_8U, 255.0);
    cv::cvtColor(reference8, reference8, cv::COLOR_RGBA2BGRA);
    QVERIFY(cv::norm(written, reference8, cv::NORM_INF) <= 1.0);
}

void tst_PSImageTransfer::saveEqualsTheStepSequence_data()
{
    QTest::addColumn<int>("depth");
    QTest::addColumn<int>("channels");
    QTest::addColumn<bool>("mask");
    QTest::newRow("16-bit, four channels, mask") << int(CV_16U) << 4 << true;
    QTest::newRow("16-bit, four channels, no mask") << int(CV_16U) << 4 << false;
    QTest::newRow("16-bit, three channels, mask") << int(CV_16U) << 3 << true;
    QTest::newRow("16-bit gray, mask") << int(CV_16U) << 1 << true;
    QTest::newRow("8-bit, three channels, no mask") << int(CV_8U) << 3 << false;
    QTest::newRow("float, four channels, mask") << int(CV_32F) << 4 << true;
    QTest::newRow("float, three channels, no mask") << int(CV_32F) << 3 << false;
}

// The single-pass write into the planes against the plain sequence of whole-matrix steps, done on
// copies of the planes as handed over: equal bit for bit, and the row padding left alone.
void tst_PSImageTransfer::saveEqualsTheStepSequence()
{
    QFETCH(int, depth);
    QFETCH(int, channels);
    QFETCH(bool, mask);
    HostSetup setup;
    setup.rowPadding = 6;
    m_backEnd = startBackEnd(m_session, makeHostImage(83, 149, false, mask), setup);
    QVERIFY(m_backEnd);
    HostChannel *targets[4] = {&m_session->plane(0), &m_session->plane(1), &m_session->plane(2), m_session->mask()};
    QByteArray expected[4];
    const PSReference::Planes reference = planeCopies(*m_session, expected);
    const auto image = std::make_shared<ImageData>(makeSource(depth, channels, 83, 149), cv::Mat());
    PSReference::save(image, reference);

    QSignalSpy saved(m_backEnd, &PluginData::imageSaved);
    m_backEnd->saveImage(image, QString(), QStringLiteral("out"), {}, {});
    QTRY_COMPARE(saved.size(), 1);
    for (int k = 0; k < 4; ++k)
        QVERIFY2(!targets[k] || planeBytes(*targets[k]) == expected[k], qPrintable(QStringLiteral("plane %1 differs").arg(k)));
}

void tst_PSImageTransfer::saveRefusals_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("channels");
    QTest::newRow("no image") << -1 << -1 << 4;
    QTest::newRow("empty image") << 0 << 0 << 4;
    QTest::newRow("one column more") << 33 << 20 << 4;
    QTest::newRow("one row less") << 32 << 19 << 4;
    QTest::newRow("two channels") << 32 << 20 << 2;
}

void tst_PSImageTransfer::saveRefusals()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, channels);
    m_backEnd = startBackEnd(m_session, makeHostImage(32, 20, false, true));
    QVERIFY(m_backEnd);
    const QByteArray before = planeBytes(m_session->plane(0)) + planeBytes(m_session->plane(2)) + planeBytes(*m_session->mask());

    std::shared_ptr<ImageData> image;
    if (width >= 0)
        image = std::make_shared<ImageData>(width > 0 ? cv::Mat(height, width, CV_16UC(channels), cv::Scalar::all(7)) : cv::Mat(),
                                            cv::Mat());
    QSignalSpy saved(m_backEnd, &PluginData::imageSaved);
    m_backEnd->saveImage(image, QString(), QStringLiteral("out"), {}, {});
    QCOMPARE(saved.size(), 0);
    QCOMPARE(planeBytes(m_session->plane(0)) + planeBytes(m_session->plane(2)) + planeBytes(*m_session->mask()), before);
    QCOMPARE(int(m_session->record()->status), int(FilterHostSession::UntouchedStatus));
    m_backEnd->cleanup();
    QCOMPARE(int(m_session->record()->status), int(StatusNoImageSaved));
}

void tst_PSImageTransfer::loadDebugLines_data()
{
    QTest::addColumn<bool>("gray");
    QTest::addColumn<bool>("mask");
    QTest::addColumn<Samples>("samples");
    // 83 columns: eight-pixel steps up to column 79, then a tail of three.
    QTest::newRow("extremes in a row's tail") << false << true << Samples{{2, 81, 3, 30000}, {0, 82, 1, 5}};
    QTest::newRow("top bit set: the largest before clearing, not after")
        << false << true << Samples{{1, 40, 2, 40000}, {0, 3, 4, 900}, {2, 7, 1, 5000}};
    QTest::newRow("extremes in the mask") << false << true << Samples{{3, 82, 4, 31000}, {3, 30, 2, 2}};
    QTest::newRow("no mask: the opaque channel is the largest") << false << false << Samples{{0, 10, 1, 20000}, {1, 81, 0, 7}};
    QTest::newRow("gray: planes 1 and 2 are not read")
        << true << true << Samples{{1, 5, 2, 30000}, {2, 81, 2, 3}, {0, 80, 4, 1500}};
    QTest::newRow("top left pixel") << false << true << Samples{{0, 0, 0, 11}, {1, 0, 0, 32768 + 22}, {2, 0, 0, 33}, {3, 0, 0, 44}};
}

// The values of the debug lines come from the samples the load reads and writes: extremes over
// all four channels and the top left pixel, before and after clearing and scaling.
void tst_PSImageTransfer::loadDebugLines()
{
    QFETCH(bool, gray);
    QFETCH(bool, mask);
    QFETCH(Samples, samples);
    m_backEnd = startBackEnd(m_session, makeFlatHostImage(83, 5, gray, mask, samples));
    QVERIFY(m_backEnd);
    const PSReference::Loaded expected = PSReference::load(referencePlanes(*m_session, gray), false);
    double rawMin, rawMax, scaledMin, scaledMax;
    cv::minMaxIdx(expected.merged, &rawMin, &rawMax);
    cv::minMaxIdx(expected.scaled, &scaledMin, &scaledMax);
    const cv::Vec4w raw = expected.merged.at<cv::Vec4w>(0, 0);
    const cv::Vec4f scaled = expected.scaled.at<cv::Vec4f>(0, 0);

    const QStringList lines = debugLinesOf([&] { m_backEnd->loadImage(QStringLiteral("id"), false); },
                                           {"loadingImage", "top left"});
    QCOMPARE(lines, (QStringList{debugLine("loadingImage pre-process min", rawMin, "max", rawMax),
                                 debugLine("top left", raw[0], raw[1], raw[2], raw[3]),
                                 debugLine("loadingImage post-process min", scaledMin, "max", scaledMax),
                                 debugLine("top left", scaled[0], scaled[1], scaled[2], scaled[3])}));
}

void tst_PSImageTransfer::saveDebugLines_data()
{
    QTest::addColumn<int>("depth");
    QTest::addColumn<int>("channels");
    QTest::addColumn<bool>("mask");
    QTest::addColumn<Samples>("samples");
    QTest::newRow("16-bit, extremes in alpha, in eight-pixel steps and in a row's tail")
        << int(CV_16U) << 4 << true << Samples{{3, 82, 2, 65535}, {3, 12, 3, 3}, {1, 81, 0, 7}};
    QTest::newRow("16-bit, alpha dropped for a host without mask")
        << int(CV_16U) << 4 << false << Samples{{3, 10, 1, 65000}, {0, 20, 3, 12}, {2, 82, 4, 30000}};
    QTest::newRow("16-bit, alpha added for a host with mask") << int(CV_16U) << 3 << true << Samples{{2, 5, 4, 10}};
    QTest::newRow("8-bit, extremes in a row's tail") << int(CV_8U) << 3 << false << Samples{{0, 82, 4, 255}, {2, 80, 0, 1}};
    QTest::newRow("float beyond 0 to 1") << int(CV_32F) << 4 << true << Samples{{0, 2, 2, -0.5}, {3, 81, 1, 1.7}, {1, 9, 0, 0.01}};
}

// The pre-process values come from the image's own pixels, the post-process values from what
// reaches the host: all channels of the converted full matrix.
void tst_PSImageTransfer::saveDebugLines()
{
    QFETCH(int, depth);
    QFETCH(int, channels);
    QFETCH(bool, mask);
    QFETCH(Samples, samples);
    m_backEnd = startBackEnd(m_session, makeHostImage(83, 5, false, mask));
    QVERIFY(m_backEnd);
    QByteArray copies[4];
    const auto image = std::make_shared<ImageData>(makeFlatSource(depth, channels, 83, 5, samples), cv::Mat());
    const cv::Mat written = PSReference::save(image, planeCopies(*m_session, copies));
    double sourceMin, sourceMax, writtenMin, writtenMax;
    cv::minMaxIdx(image->mat(), &sourceMin, &sourceMax);
    cv::minMaxIdx(written, &writtenMin, &writtenMax);

    QSignalSpy saved(m_backEnd, &PluginData::imageSaved);
    const QStringList lines = debugLinesOf([&] { m_backEnd->saveImage(image, QString(), QStringLiteral("out"), {}, {}); },
                                           {"saveImage pre-process", "saveImage post-process"});
    QCOMPARE(saved.size(), 1);
    QCOMPARE(lines, (QStringList{debugLine("saveImage pre-process min", sourceMin, "max", sourceMax),
                                 debugLine("saveImage post-process min", writtenMin, "max", writtenMax)}));
}

// The results stay right when a vector form is refused, so only this notices that the passes
// fell back to one sample at a time (a changed table that the load's flips no longer describe).
void tst_PSImageTransfer::passesTakeVectors()
{
#if CV_SIMD128
    QVERIFY(PSPlaneTransfer::usesVectors());
#else
    QSKIP("this build has no 128-bit vector code");
#endif
}

QTEST_GUILESS_MAIN(tst_PSImageTransfer)
#include "tst_psimagetransfer.moc"
