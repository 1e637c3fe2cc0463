#include "CLIPluginData.h"
#include "TestHelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileOpenEvent>
#include <QImage>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <opencv2/imgcodecs.hpp>

// Loading announced files with the real ExifTool and image reader, the reader on its own thread,
// and saving results back in place through the real writer, with the "Apple Photos" route that
// goes through a temporary JPEG copied over the original.
class tst_CliPluginImages : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void load();
    void twoQuickLoadsOnlyLastEmitted();
    void corruptFileGivesLoadingError();
    void save_data();
    void save();
    void unusableTemporaryFolder_data();
    void unusableTemporaryFolder();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    static QString thumbnailFor(const QString &source);

    QTemporaryDir m_dir;
    std::unique_ptr<CLIPluginData> m_backEnd;
};

void tst_CliPluginImages::initTestCase()
{
    OV_SKIP_WITHOUT_WINDOWS_EXIFTOOL();
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("tmp")));
    TestHelpers::setTemporaryFolder(path(QStringLiteral("tmp")));
    // A JPEG stored sideways (EXIF orientation 6), a 16-bit TIFF and a PNG with alpha.
    QVERIFY(TestHelpers::writeRgbImage(path(QStringLiteral("rotated.jpg")), TestHelpers::makePattern(64, 32, CV_8U, 3)));
    QVERIFY(TestHelpers::runExifTool({QStringLiteral("-Orientation#=6"), QStringLiteral("-Make=Orvane")},
                                     path(QStringLiteral("rotated.jpg"))));
    QVERIFY(TestHelpers::writeRgbImage(path(QStringLiteral("deep.tif")), TestHelpers::makePattern(48, 40, CV_16U, 3)));
    QVERIFY(TestHelpers::writeRgbImage(path(QStringLiteral("alpha.png")), TestHelpers::makePattern(30, 20, CV_8U, 4)));
    QFile broken(path(QStringLiteral("broken.jpg")));
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write("\xff\xd8\xff\xe0 this is not a picture at all");
}

void tst_CliPluginImages::init()
{
    m_backEnd = std::make_unique<CLIPluginData>(QStringList{QStringLiteral("prog")});
}

void tst_CliPluginImages::cleanup()
{
    m_backEnd.reset();
}

QString tst_CliPluginImages::thumbnailFor(const QString &source)
{
    return QDir::tempPath() + QStringLiteral("/%1-thumbnail.jpeg").arg(qHash(QStringView(source), 0));
}

// The decoding of each format belongs to the reader's own test; here a turned JPEG goes through
// the back end: its statuses, the loading flag, the description and the thumbnail, which a second
// load keeps while it is newer than the file.
void tst_CliPluginImages::load()
{
    const QString source = path(QStringLiteral("rotated.jpg"));
    const QString thumb = thumbnailFor(source);

    QSignalSpy loaded(m_backEnd.get(), &PluginData::imageLoaded);
    QSignalSpy loading(m_backEnd.get(), &PluginData::isLoadingChanged);
    QSignalSpy status(m_backEnd.get(), &PluginData::loadingStatusChanged);
    m_backEnd->loadImage(source, false);
    QVERIFY(m_backEnd->isLoading());
    QVERIFY(loaded.wait(20000));
    QCOMPARE(loading.count(), 2);
    QCOMPARE(loading.at(1).at(0).toBool(), false);
    // Reading metadata, Decoding image, Rotating image, and empty again.
    QCOMPARE(status.count(), 4);
    QVERIFY(m_backEnd->loadingStatus().isEmpty());
    QVERIFY(m_backEnd->loadingError().isEmpty());

    QCOMPARE(loaded.at(0).at(0).toString(), source);
    const QVariantMap description = loaded.at(0).at(1).toMap();
    QCOMPARE(description.value("filepath").toString(), source);
    QCOMPARE(description.value("fullSize").value<QSize>(), QSize(32, 64));
    QCOMPARE(description.value("image").value<std::shared_ptr<ImageData>>()->size(), QSize(32, 64));
    QVERIFY(!description.value("metadata").toMap().isEmpty());
    // The thumbnail was made for this load, under the name of the path hash, and only it is left.
    QCOMPARE(description.value("thumbnail").toString(), thumb);
    QVERIFY(!QImage(thumb).isNull());
    QCOMPARE(QDir(path(QStringLiteral("tmp"))).entryList(QDir::Files | QDir::System),
             QStringList{QFileInfo(thumb).fileName()});

    const QByteArray marker = "kept thumbnail";
    QFile out(thumb);
    QVERIFY(out.open(QIODevice::WriteOnly) && out.write(marker) > 0);
    out.close();
    m_backEnd->loadImage(source, false);
    QVERIFY(loaded.wait(20000));
    QCOMPARE(loaded.at(1).at(1).toMap().value("thumbnail").toString(), thumb);
    QVERIFY(out.open(QIODevice::ReadOnly));
    QCOMPARE(out.readAll(), marker);
    out.remove();
}

// A newer request makes the results of an older one stale: only the last of two quick loads is
// emitted, and nothing of the first comes later (a third load marks the end).
void tst_CliPluginImages::twoQuickLoadsOnlyLastEmitted()
{
    QStringList ids;
    connect(m_backEnd.get(), &PluginData::imageLoaded, this, [&ids](const QString &id) { ids << id; });
    QSignalSpy loading(m_backEnd.get(), &PluginData::isLoadingChanged);
    QSignalSpy status(m_backEnd.get(), &PluginData::loadingStatusChanged);
    m_backEnd->loadImage(path(QStringLiteral("deep.tif")), false);
    m_backEnd->loadImage(path(QStringLiteral("rotated.jpg")), false);
    QTRY_COMPARE_WITH_TIMEOUT(ids.size(), 1, 20000);
    // "Reading metadata" twice in a row is one change; then each file's own statuses.
    QCOMPARE(status.count(), 1 + 2 + 3);
    m_backEnd->loadImage(path(QStringLiteral("alpha.png")), false);
    QTRY_VERIFY_WITH_TIMEOUT(ids.last() == path(QStringLiteral("alpha.png")), 20000);
    QCOMPARE(ids, (QStringList{path(QStringLiteral("rotated.jpg")), path(QStringLiteral("alpha.png"))}));
    QCOMPARE(loading.count(), 5);
    QCOMPARE(loading.last().at(0).toBool(), false);
}

void tst_CliPluginImages::corruptFileGivesLoadingError()
{
    QSignalSpy loaded(m_backEnd.get(), &PluginData::imageLoaded);
    QSignalSpy loading(m_backEnd.get(), &PluginData::isLoadingChanged);
    QSignalSpy errors(m_backEnd.get(), &PluginData::loadingErrorChanged);
    const QString broken = path(QStringLiteral("broken.jpg"));
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^Error loading image: .*broken\\.jpg")));
    m_backEnd->loadImage(broken, false);
    QVERIFY(errors.wait(20000));
    QCOMPARE(loading.count(), 2);
    QCOMPARE(loading.at(1).at(0).toBool(), false);
    QCOMPARE(loaded.count(), 0);
    const QString error = m_backEnd->loadingError();
    QVERIFY2(error.contains(QStringLiteral("broken.jpg")), qPrintable(error));
    QVERIFY(m_backEnd->loadingStatus().isEmpty());

    // A later successful load leaves the error text in place.
    m_backEnd->loadImage(path(QStringLiteral("deep.tif")), false);
    QVERIFY(loaded.wait(20000));
    QCOMPARE(m_backEnd->loadingError(), error);
    QCOMPARE(errors.count(), 1);
}

void tst_CliPluginImages::save_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("url"); // an "orvane" URL the back end receives before the save
    QTest::addColumn<QString>("original");
    QTest::addColumn<QString>("requested");
    QTest::addColumn<QString>("reported"); // empty: the save fails
    QTest::addColumn<QString>("error"); // a part of the error text
    QTest::addColumn<QString>("progressPath");
    QTest::addColumn<bool>("readOnly"); // the original is made read-only first

    const QString c1 = QStringLiteral("--editor=Capture One");
    const QStringList ap{QStringLiteral("--editor=Apple Photos")};
    QTest::newRow("Capture One") << QStringList{c1} << "" << "c1/a.jpg" << "c1/a.jpg" << "c1/a.jpg" << "" << "c1/a.jpg"
                                 << false;
    QTest::newRow("apple photos in other case") << QStringList{"--editor=apple photos"} << "" << "lc/a.jpg"
                                                << "lc/a.jpg" << "lc/a.jpg" << "" << "lc/a.jpg" << false;
    QTest::newRow("writer error relayed") << QStringList{c1} << "" << "we/a.jpg" << "we/no/such/out.jpg" << ""
                                          << "the folder does not exist" << "" << false;
    QTest::newRow("Apple Photos") << ap << "" << "ap/IMG_1.HEIC" << "elsewhere/IMG_1.HEIC" << "ap/IMG_1.jpeg" << ""
                                  << "tmp/IMG_1.jpeg" << false;
    QTest::newRow("Apple Photos by URL while Capture One") << QStringList{c1} << "orvane:///editor/Apple%20Photos"
                                                           << "au/IMG_1.HEIC" << "au/IMG_1.HEIC" << "au/IMG_1.jpeg"
                                                           << "" << "tmp/IMG_1.jpeg" << false;
    QTest::newRow("Apple Photos, original cannot be replaced") << ap << "" << "gone/IMG_2.HEIC" << "gone/IMG_2.HEIC"
                                                               << "" << "Failed to save back to Apple Photos" << ""
                                                               << false;
    // Fault: the rename replaced a photo the user had made read-only, as root or as the folder's
    // owner can, while Windows refused it: neither route may change it, on either system.
    QTest::newRow("Capture One, read-only original") << QStringList{c1} << "" << "ro/a.jpg" << "ro/a.jpg" << ""
                                                     << "read-only" << "" << true;
    QTest::newRow("Apple Photos, read-only original") << ap << "" << "rp/IMG_3.HEIC" << "rp/IMG_3.HEIC" << ""
                                                      << "Failed to save back to Apple Photos" << "" << true;
}

void tst_CliPluginImages::save()
{
    QFETCH(QStringList, options);
    QFETCH(QString, url);
    QFETCH(QString, original);
    QFETCH(QString, requested);
    QFETCH(QString, reported);
    QFETCH(QString, error);
    QFETCH(QString, progressPath);
    QFETCH(bool, readOnly);
    original = path(original);
    requested = path(requested);
    const QString temporary = path(QStringLiteral("tmp/%1.jpeg").arg(QFileInfo(requested).completeBaseName()));

    // A 20 x 10 JPEG whatever its name says, with a maker tag that the save carries over. The
    // HEIC name is no format the back end opens: a JPEG beside it makes the launch an editor's.
    const QString folder = QFileInfo(original).absolutePath();
    const QString companion = folder + QStringLiteral("-companion.jpg");
    QVERIFY(TestHelpers::writeRgbImage(companion, TestHelpers::makePattern(20, 10, CV_8U, 3)));
    QVERIFY(TestHelpers::runExifTool({QStringLiteral("-Make=Orvane")}, companion));
    if (!original.contains(QLatin1String("/gone/")))
        QVERIFY(QDir().mkpath(folder) && QFile::copy(companion, original));
    if (readOnly)
        QVERIFY(QFile::setPermissions(original, QFile::ReadOwner | QFile::ReadUser | QFile::ReadGroup));
    QFile companionFile(companion);
    QVERIFY(companionFile.open(QIODevice::ReadOnly));
    const QByteArray before = companionFile.readAll();

    CLIPluginData backEnd(QStringList{QStringLiteral("prog")} + options + QStringList{companion});
    if (!url.isEmpty()) {
        QFileOpenEvent event{QUrl(url)};
        QVERIFY(backEnd.eventFilter(nullptr, &event));
    }

    const auto image = std::make_shared<ImageData>(TestHelpers::makePattern(50, 30, CV_8U, 3), cv::Mat());
    QSignalSpy saved(&backEnd, &PluginData::imageSaved);
    QSignalSpy progress(&backEnd, &PluginData::imageSavingProgress);
    QSignalSpy errors(&backEnd, &PluginData::imageSavingError);
    // Without an image nothing is saved and nothing is emitted: what follows counts every signal.
    QTest::ignoreMessage(QtCriticalMsg, "Image pointer is null, cannot save image");
    backEnd.saveImage(nullptr, original, requested, {}, {});
    const bool applePhotosFails = reported.isEmpty() && error.startsWith(QLatin1String("Failed to save back"));
    if (applePhotosFails)
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("^Failed to copy image to original location: .*")
                                                + (readOnly ? QStringLiteral("read-only") : QString())));
    backEnd.saveImage(image, original, requested, {}, {});

    if (reported.isEmpty()) {
        QCOMPARE(saved.count(), 0);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toString(), applePhotosFails ? original : requested);
        QVERIFY2(errors.at(0).at(1).toString().contains(error), qPrintable(errors.at(0).at(1).toString()));
        if (readOnly) {
            QFile kept(original);
            QVERIFY(kept.open(QIODevice::ReadOnly));
            QCOMPARE(kept.readAll(), before);
            QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System),
                     QStringList{QFileInfo(original).fileName()});
            QFile::setPermissions(original, QFile::ReadOwner | QFile::WriteOwner);
        }
    } else {
        QCOMPARE(errors.count(), 0);
        QCOMPARE(saved.count(), 1);
        QCOMPARE(saved.at(0).at(0).toString(), path(reported));
        QCOMPARE(progress.last().at(0).toString(), path(progressPath));
        const cv::Mat written = cv::imread(QFile::encodeName(original).toStdString());
        QCOMPARE(QSize(written.cols, written.rows), QSize(50, 30));
        QCOMPARE(TestHelpers::exifToolValues(original, {QStringLiteral("Make")}).value("Make"), QStringLiteral("Orvane"));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList{QFileInfo(original).fileName()});
    }
    QVERIFY(!QFileInfo::exists(temporary));
}

void tst_CliPluginImages::unusableTemporaryFolder_data()
{
    QTest::addColumn<QString>("temporary"); // what TMPDIR (TMP, TEMP) names, in the test's folder
    QTest::newRow("names no folder") << "absent";
    QTest::newRow("names a file") << "broken.jpg";
}

// Qt gives an empty temporary path for these, and joined to a file name that is the root folder.
// Fault: the thumbnail was written as /<hash>-thumbnail.jpeg and the "Apple Photos" route's
// result as /<name>.jpeg (where only root can, so elsewhere the save failed without a reason).
// Both go to a private folder of the application's own instead.
void tst_CliPluginImages::unusableTemporaryFolder()
{
    QFETCH(QString, temporary);
    qputenv("XDG_CACHE_HOME", QFile::encodeName(path(QStringLiteral("cache"))));
    TestHelpers::setTemporaryFolder(path(temporary));
    const auto restore = qScopeGuard([this] { TestHelpers::setTemporaryFolder(path(QStringLiteral("tmp"))); });
    const QString privateFolder = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    const QString source = path(QStringLiteral("rotated.jpg"));
    const QString rootThumbnail = QDir::rootPath() + QStringLiteral("%1-thumbnail.jpeg").arg(qHash(QStringView(source), 0));
    const QString rootResult = QDir::rootPath() + QStringLiteral("IMG_4.jpeg");
    const auto cleanRoot = qScopeGuard([&] {
        QFile::remove(rootThumbnail);
        QFile::remove(rootResult);
    });

    QSignalSpy loaded(m_backEnd.get(), &PluginData::imageLoaded);
    m_backEnd->loadImage(source, false);
    QVERIFY(loaded.wait(20000));
    const QString thumbnail = loaded.first().at(1).toMap().value("thumbnail").toString();
    QVERIFY2(thumbnail.startsWith(privateFolder + QLatin1Char('/')), qPrintable(thumbnail));
    QVERIFY(!QImage(thumbnail).isNull());
    QVERIFY(!QFileInfo::exists(rootThumbnail));

    const QString original = path(QStringLiteral("tf-%1/IMG_4.jpg").arg(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('-')));
    QVERIFY(QDir().mkpath(QFileInfo(original).absolutePath()) && QFile::copy(source, original));
    CLIPluginData applePhotos({QStringLiteral("prog"), QStringLiteral("--editor=Apple Photos"), source});
    QSignalSpy saved(&applePhotos, &PluginData::imageSaved);
    QSignalSpy errors(&applePhotos, &PluginData::imageSavingError);
    const auto image = std::make_shared<ImageData>(TestHelpers::makePattern(50, 30, CV_8U, 3), cv::Mat());
    applePhotos.saveImage(image, original, original, {}, {});
    QCOMPARE(errors.count(), 0);
    QCOMPARE(saved.count(), 1);
    QCOMPARE(cv::imread(QFile::encodeName(original).toStdString()).cols, 50);
    QVERIFY(!QFileInfo::exists(rootResult));
    QVERIFY(!QFileInfo::exists(QDir(privateFolder).filePath(QStringLiteral("temp/IMG_4.jpeg"))));
}

QTEST_GUILESS_MAIN(tst_CliPluginImages)
#include "tst_cliplugin_images.moc"
