// PSPluginData's image transfers in this process over real shared memory: the description that
// loadImage emits, the thumbnail, the signal order, saveImage's writes and refusals, and an
// unchanged round trip.

#include "PSReference.h"
#include "PSTestSupport.h"

#include "psplugin/PSPluginData.h"

#include <QDir>
#include <QImage>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <csignal>
#include <memory>

#include <sys/resource.h>

using namespace PSTestSupport;

namespace {

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

std::shared_ptr<ImageData> imageOf(const QVariantMap &description)
{
    return description.value(QStringLiteral("image")).value<std::shared_ptr<ImageData>>();
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

} // namespace

class tst_PSImageTransfer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void loadDescribesTheImage_data();
    void loadDescribesTheImage();
    void repeatedLoadEmitsTheEarlierDescriptionFirst();
    void elongatedImages_data();
    void elongatedImages();
    void thumbnailThatCannotBeWrittenLeavesNoEmptyFile();
    void saveWritesThePlanes_data();
    void saveWritesThePlanes();
    void saveRefusals_data();
    void saveRefusals();
    void unchangedRoundTripGivesBackEveryHostSample_data();
    void unchangedRoundTripGivesBackEveryHostSample();

private:
    QTemporaryDir temp;
    FilterHostSession *session = nullptr;
    PSPluginData *backEnd = nullptr;
};

void tst_PSImageTransfer::initTestCase()
{
    QVERIFY(temp.isValid());
    qputenv("TMPDIR", QFile::encodeName(temp.path()));
    QCOMPARE(QDir(QStandardPaths::writableLocation(QStandardPaths::TempLocation)).canonicalPath(),
             QDir(temp.path()).canonicalPath());
}

void tst_PSImageTransfer::cleanup()
{
    endBackEnd(session, backEnd);
}

void tst_PSImageTransfer::loadDescribesTheImage_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<bool>("gray");
    QTest::addColumn<bool>("mask");
    QTest::addColumn<QByteArray>("icc");
    QTest::newRow("colour, mask, profile") << 300 << 120 << false << true << QByteArray("\x00\x01profile", 9);
    QTest::newRow("colour, no mask") << 90 << 160 << false << false << QByteArray();
    QTest::newRow("gray, mask") << 150 << 150 << true << true << QByteArray("gray profile");
    QTest::newRow("gray, no mask") << 41 << 23 << true << false << QByteArray();
}

void tst_PSImageTransfer::loadDescribesTheImage()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(bool, gray);
    QFETCH(bool, mask);
    QFETCH(QByteArray, icc);
    HostImage host = makeHostImage(width, height, gray, mask);
    putEdgeValues(host);
    HostSetup setup;
    setup.icc = icc;
    setup.rowPadding = 6;
    session = new FilterHostSession;
    backEnd = startBackEnd(*session, host, setup);
    QVERIFY(backEnd);
    const PSReference::Loaded expected = PSReference::load(referencePlanes(*session, gray), true);

    QStringList events;
    bool loadingSeenDuringLoad = false;
    connect(backEnd, &PluginData::isLoadingChanged, this, [&](bool value) {
        events << QStringLiteral("loading %1").arg(value);
        if (value)
            loadingSeenDuringLoad = backEnd->isLoading();
    });
    connect(backEnd, &PluginData::imageLoaded, this, [&](const QString &id) { events << QStringLiteral("loaded ") + id; });
    QSignalSpy loaded(backEnd, &PluginData::imageLoaded);
    QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("QImage PSPluginData::loadImage() grayscale: %1 alpha: %2")
                                                    .arg(gray ? 1 : 0).arg(mask ? "true" : "false")));
    backEnd->loadImage(QStringLiteral("the id"), true);

    QCOMPARE(events, (QStringList{"loading 1", "loaded the id", "loading 0"}));
    QVERIFY(loadingSeenDuringLoad);
    QVERIFY(!backEnd->isLoading());
    QCOMPARE(loaded.size(), 1);
    const QVariantMap description = loaded.at(0).at(1).toMap();
    QCOMPARE(description.keys(), (QStringList{"colorInfo", "filepath", "image", "metadata", "thumbnail", "uid"}));
    QCOMPARE(description.value("uid").toString(), QStringLiteral("psplugin image"));
    QCOMPARE(description.value("filepath").toString(), QStringLiteral("Adobe Photoshop Image"));
    const QVariantMap colorInfo = description.value("colorInfo").toMap();
    QCOMPARE(colorInfo.value("grayscale").typeId(), int(QMetaType::Int));
    QCOMPARE(colorInfo.value("grayscale").toInt(), gray ? 1 : 0);
    const QVariantMap metadata = description.value("metadata").toMap();
    QCOMPARE(metadata.value("EXIF:SamplesPerPixel").typeId(), int(QMetaType::Int));
    QCOMPARE(metadata.value("EXIF:SamplesPerPixel").toInt(), gray ? 1 : 3);
    QCOMPARE(metadata.contains("ICC_Profile:ICC_Profile"), !icc.isEmpty());
    if (!icc.isEmpty())
        QCOMPARE(metadata.value("ICC_Profile:ICC_Profile").toByteArray(), icc);

    const auto image = imageOf(description);
    QVERIFY(image);
    QCOMPARE(image->mat().type(), CV_16UC4);
    QCOMPARE(cv::norm(image->mat(), expected.converted, cv::NORM_INF), 0.0);
    if (!mask) {
        std::vector<cv::Mat> channels;
        cv::split(image->mat(), channels);
        QCOMPARE(cv::countNonZero(channels[3] != 65535), 0);
    }

    const QString thumbnailPath = QDir(temp.path()).filePath(QStringLiteral("thumbnail-orlx-ps-plugin.png"));
    QCOMPARE(QFileInfo(description.value("thumbnail").toString()).canonicalFilePath(), QFileInfo(thumbnailPath).canonicalFilePath());
    QCOMPARE(QDir(temp.path()).entryList(QDir::Files), QStringList{"thumbnail-orlx-ps-plugin.png"});
    const cv::Mat written = cv::imread(thumbnailPath.toStdString(), cv::IMREAD_UNCHANGED);
    QCOMPARE(written.cols, PSReference::thumbnailSize(width, height).width);
    QCOMPARE(written.rows, PSReference::thumbnailSize(width, height).height);
    cv::Mat reference8;
    expected.thumbnail.convertTo(reference8, CV_8U, 255.0);
    cv::cvtColor(reference8, reference8, cv::COLOR_RGBA2BGRA);
    QVERIFY(cv::norm(written, reference8, cv::NORM_INF) <= 1.0);
}

// Thin strips load like any image; only a thumbnail beyond 16 megapixels is left out, and an
// earlier run's thumbnail goes with it.
void tst_PSImageTransfer::elongatedImages_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<bool>("thumbnail");
    // Kept far below the limit: writing a PNG of megapixels takes minutes under ThreadSanitizer.
    QTest::newRow("40 x 400, thumbnail 200 x 2000") << 40 << 400 << true;
    QTest::newRow("1000 x 50, thumbnail 4000 x 200") << 1000 << 50 << true;
    QTest::newRow("3 x 1300, thumbnail 200 x 86666") << 3 << 1300 << false;
    QTest::newRow("1 x 100000") << 1 << 100000 << false;
    QTest::newRow("100000 x 1") << 100000 << 1 << false;
}

void tst_PSImageTransfer::elongatedImages()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(bool, thumbnail);
    const QString thumbnailPath = QDir(temp.path()).filePath(QStringLiteral("thumbnail-orlx-ps-plugin.png"));
    QVERIFY(cv::imwrite(thumbnailPath.toStdString(), cv::Mat(4, 4, CV_8UC3, cv::Scalar(1, 2, 3))));
    session = new FilterHostSession;
    backEnd = startBackEnd(*session, makeHostImage(width, height, false, false));
    QVERIFY(backEnd);
    QSignalSpy loaded(backEnd, &PluginData::imageLoaded);
    if (!thumbnail)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Thumbnail not made: a %1 x %2 image").arg(width).arg(height)));
    backEnd->loadImage(QStringLiteral("strip"), false);

    QCOMPARE(loaded.size(), 1);
    const auto image = imageOf(loaded.at(0).at(1).toMap());
    QVERIFY(image);
    QCOMPARE(image->width(), width);
    QCOMPARE(image->height(), height);
    QCOMPARE(loaded.at(0).at(1).toMap().value("thumbnail").toString(), thumbnailPath);
    QCOMPARE(QFile::exists(thumbnailPath), thumbnail);
    if (thumbnail) {
        const cv::Mat written = cv::imread(thumbnailPath.toStdString(), cv::IMREAD_UNCHANGED);
        QCOMPARE(written.cols, PSReference::thumbnailSize(width, height).width);
        QCOMPARE(written.rows, PSReference::thumbnailSize(width, height).height);
    }
}

void tst_PSImageTransfer::repeatedLoadEmitsTheEarlierDescriptionFirst()
{
    session = new FilterHostSession;
    backEnd = startBackEnd(*session, makeHostImage(20, 10, false, true));
    QVERIFY(backEnd);
    QSignalSpy loaded(backEnd, &PluginData::imageLoaded);
    backEnd->loadImage(QStringLiteral("first"), false);
    QCOMPARE(loaded.size(), 1);
    const auto firstImage = imageOf(loaded.at(0).at(1).toMap());

    reinterpret_cast<uint16_t *>(session->plane(1).data())[0] = 1234; // the host's plane changes meanwhile
    backEnd->loadImage(QStringLiteral("second"), false);
    QCOMPARE(loaded.size(), 3);
    QCOMPARE(loaded.at(1).at(0).toString(), QStringLiteral("second"));
    QCOMPARE(imageOf(loaded.at(1).at(1).toMap()), firstImage);
    const auto secondImage = imageOf(loaded.at(2).at(1).toMap());
    QVERIFY(secondImage && secondImage != firstImage);
    QCOMPARE(secondImage->mat().at<cv::Vec4w>(0, 0)[1], uint16_t(std::lround(1234 * 65535.0 / 32767.0)));
}

// Writes beyond a few bytes fail while the file size limit is lowered (the signal ignored), so
// the thumbnail cannot be encoded; the earlier one must not become an empty file.
void tst_PSImageTransfer::thumbnailThatCannotBeWrittenLeavesNoEmptyFile()
{
    const QString thumbnailPath = QDir(temp.path()).filePath(QStringLiteral("thumbnail-orlx-ps-plugin.png"));
    QVERIFY(cv::imwrite(thumbnailPath.toStdString(), cv::Mat(4, 4, CV_8UC3, cv::Scalar(1, 2, 3))));
    session = new FilterHostSession;
    backEnd = startBackEnd(*session, makeHostImage(2000, 200, false, false));
    QVERIFY(backEnd);
    QSignalSpy loaded(backEnd, &PluginData::imageLoaded);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit;
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit previous = limit;
    limit.rlim_cur = 64;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
    backEnd->loadImage(QStringLiteral("id"), false);
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &previous), 0);
    QCOMPARE(loaded.size(), 1);
    QVERIFY2(!QFile::exists(thumbnailPath), "an earlier thumbnail shows another picture");
    QCOMPARE(QDir(temp.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

void tst_PSImageTransfer::saveWritesThePlanes_data()
{
    QTest::addColumn<bool>("mask");
    QTest::addColumn<int>("type");
    QTest::newRow("16-bit RGBA into planes and mask") << true << int(CV_16UC4);
    QTest::newRow("16-bit RGBA, no mask") << false << int(CV_16UC4);
    QTest::newRow("16-bit RGB, mask gets opaque alpha") << true << int(CV_16UC3);
    QTest::newRow("float RGBA beyond [0, 1], mask") << true << int(CV_32FC4);
    QTest::newRow("8-bit RGB, no mask") << false << int(CV_8UC3);
}

void tst_PSImageTransfer::saveWritesThePlanes()
{
    QFETCH(bool, mask);
    QFETCH(int, type);
    const int width = 71;
    const int height = 38;
    HostSetup setup;
    setup.rowPadding = 4;
    session = new FilterHostSession;
    backEnd = startBackEnd(*session, makeHostImage(width, height, false, mask), setup);
    QVERIFY(backEnd);

    cv::Mat pixels(height, width, type);
    cv::RNG rng(type);
    if (CV_MAT_DEPTH(type) == CV_32F)
        rng.fill(pixels, cv::RNG::UNIFORM, -0.3, 1.3);
    else
        rng.fill(pixels, cv::RNG::UNIFORM, 0, CV_MAT_DEPTH(type) == CV_16U ? 65536 : 256);
    auto image = std::make_shared<ImageData>(pixels, cv::Mat());

    // The expectation comes from the same steps, applied to copies of the host's planes.
    std::vector<QByteArray> copies;
    for (int k = 0; k < 3; ++k)
        copies.push_back(planeBytes(session->plane(k)));
    if (mask)
        copies.push_back(planeBytes(*session->mask()));
    PSReference::Planes planes;
    for (int k = 0; k < 3; ++k)
        planes.planes[k] = reinterpret_cast<uint16_t *>(copies[size_t(k)].data());
    planes.mask = mask ? reinterpret_cast<uint16_t *>(copies[3].data()) : nullptr;
    planes.width = width;
    planes.height = height;
    planes.rowBytes = int(session->record()->rowBytes);
    PSReference::save(image, planes);

    QSignalSpy saved(backEnd, &PluginData::imageSaved);
    backEnd->saveImage(image, QStringLiteral("in"), QStringLiteral("the output"), {}, {});
    QCOMPARE(saved.size(), 1);
    QCOMPARE(saved.at(0).at(0).toString(), QStringLiteral("the output"));
    for (int k = 0; k < 3; ++k)
        QVERIFY2(planeBytes(session->plane(k)) == copies[size_t(k)], qPrintable(QStringLiteral("plane %1").arg(k)));
    if (mask)
        QVERIFY(planeBytes(*session->mask()) == copies[3]);
    QCOMPARE(int(session->record()->status), 0);
    backEnd->cleanup();
    QCOMPARE(int(session->record()->status), 0);
}

void tst_PSImageTransfer::saveRefusals_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("channels");
    QTest::addColumn<QString>("message");
    QTest::newRow("no image") << -1 << -1 << 4 << "Image pointer is null, cannot save image";
    QTest::newRow("empty image") << 0 << 0 << 4 << "Cannot save empty image";
    QTest::newRow("one column more") << 33 << 20 << 4 << "Cannot save image with new dimensions 33 20";
    QTest::newRow("one row less") << 32 << 19 << 4 << "Cannot save image with new dimensions 32 19";
    QTest::newRow("two channels") << 32 << 20 << 2
                                  << "Mat channels and alpha pointer don't match up. Have 0 channels and alpha pointer is not null";
}

void tst_PSImageTransfer::saveRefusals()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, channels);
    QFETCH(QString, message);
    session = new FilterHostSession;
    backEnd = startBackEnd(*session, makeHostImage(32, 20, false, true));
    QVERIFY(backEnd);
    const QByteArray before = planeBytes(session->plane(0)) + planeBytes(session->plane(2)) + planeBytes(*session->mask());

    std::shared_ptr<ImageData> image;
    if (width >= 0)
        image = std::make_shared<ImageData>(width > 0 ? cv::Mat(height, width, CV_16UC(channels), cv::Scalar::all(7)) : cv::Mat(),
                                            cv::Mat());
    QSignalSpy saved(backEnd, &PluginData::imageSaved);
    QTest::ignoreMessage(QtCriticalMsg, qPrintable(message));
    backEnd->saveImage(image, QString(), QStringLiteral("out"), {}, {});
    QCOMPARE(saved.size(), 0);
    QCOMPARE(planeBytes(session->plane(0)) + planeBytes(session->plane(2)) + planeBytes(*session->mask()), before);
    QCOMPARE(int(session->record()->status), int(FilterHostSession::UntouchedStatus));
    backEnd->cleanup();
    QCOMPARE(int(session->record()->status), 1);
}

void tst_PSImageTransfer::unchangedRoundTripGivesBackEveryHostSample_data()
{
    QTest::addColumn<bool>("gray");
    QTest::addColumn<bool>("mask");
    QTest::newRow("colour with mask") << false << true;
    QTest::newRow("colour without mask") << false << false;
    QTest::newRow("gray with mask") << true << true;
    QTest::newRow("gray without mask") << true << false;
}

void tst_PSImageTransfer::unchangedRoundTripGivesBackEveryHostSample()
{
    QFETCH(bool, gray);
    QFETCH(bool, mask);
    HostImage host = makeHostImage(64, 48, gray, mask);
    putEdgeValues(host);
    session = new FilterHostSession;
    backEnd = startBackEnd(*session, host);
    QVERIFY(backEnd);
    QSignalSpy loaded(backEnd, &PluginData::imageLoaded);
    backEnd->loadImage(QStringLiteral("id"), false);
    QCOMPARE(loaded.size(), 1);
    backEnd->saveImage(imageOf(loaded.at(0).at(1).toMap()), QString(), QStringLiteral("out"), {}, {});

    const HostImage back = session->readImage();
    for (int k = 0; k < 3; ++k) {
        // Every plane is written, so a gray image comes back with its gray samples in all three.
        cv::Mat expected;
        cv::bitwise_and(host.planes[gray ? 0 : k], cv::Scalar(32767), expected);
        QCOMPARE(cv::norm(back.planes[k], expected, cv::NORM_INF), 0.0);
    }
    if (mask) {
        cv::Mat expected;
        cv::bitwise_and(host.mask, cv::Scalar(32767), expected);
        QCOMPARE(cv::norm(back.mask, expected, cv::NORM_INF), 0.0);
    }
    QCOMPARE(back.planes[0].at<uint16_t>(0, 2), uint16_t(0));     // 32768 had only its top bit
    QCOMPARE(back.planes[0].at<uint16_t>(0, 3), uint16_t(32767)); // 65535
}

QTEST_GUILESS_MAIN(tst_PSImageTransfer)
#include "tst_psimagetransfer.moc"
