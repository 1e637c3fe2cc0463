#include "CLIPluginData.h"
#include "TestHelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// Loading announced files with the real ExifTool and image reader, the reader on its own thread.
class tst_CliPluginLoading : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void load_data();
    void load();
    void thumbnailKeptWhileNewer();
    void twoQuickLoadsOnlyLastEmitted();
    void corruptFileGivesLoadingError();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    static QString thumbnailFor(const QString &source);

    QTemporaryDir m_dir;
    std::unique_ptr<CLIPluginData> m_backEnd;
};

void tst_CliPluginLoading::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("tmp")));
    qputenv("TMPDIR", QFile::encodeName(path(QStringLiteral("tmp"))));
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

void tst_CliPluginLoading::init()
{
    m_backEnd = std::make_unique<CLIPluginData>(QStringList{QStringLiteral("prog")});
}

void tst_CliPluginLoading::cleanup()
{
    m_backEnd.reset();
}

QString tst_CliPluginLoading::thumbnailFor(const QString &source)
{
    return QDir::tempPath() + QStringLiteral("/%1-thumbnail.jpeg").arg(qHash(QStringView(source), 0));
}

void tst_CliPluginLoading::load_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QSize>("fullSize");
    QTest::addColumn<int>("statusChanges");
    // Reading metadata, Decoding image, (Rotating image,) and empty again.
    QTest::newRow("JPEG with EXIF orientation") << "rotated.jpg" << QSize(32, 64) << 4;
    QTest::newRow("16-bit TIFF") << "deep.tif" << QSize(48, 40) << 3;
    QTest::newRow("PNG with alpha") << "alpha.png" << QSize(30, 20) << 3;
}

void tst_CliPluginLoading::load()
{
    QFETCH(QString, file);
    QFETCH(QSize, fullSize);
    QFETCH(int, statusChanges);
    const QString source = path(file);
    const QString thumb = thumbnailFor(source);

    QSignalSpy loaded(m_backEnd.get(), &PluginData::imageLoaded);
    QSignalSpy loading(m_backEnd.get(), &PluginData::isLoadingChanged);
    QSignalSpy status(m_backEnd.get(), &PluginData::loadingStatusChanged);
    m_backEnd->loadImage(source, false);
    QVERIFY(m_backEnd->isLoading());
    QVERIFY(loaded.wait(20000));
    QCOMPARE(loading.count(), 2);
    QCOMPARE(loading.at(1).at(0).toBool(), false);
    QCOMPARE(status.count(), statusChanges);
    QVERIFY(m_backEnd->loadingStatus().isEmpty());
    QVERIFY(m_backEnd->loadingError().isEmpty());

    QCOMPARE(loaded.at(0).at(0).toString(), source);
    const QVariantMap description = loaded.at(0).at(1).toMap();
    QCOMPARE(description.value("filepath").toString(), source);
    QCOMPARE(description.value("fullSize").value<QSize>(), fullSize);
    QCOMPARE(description.value("image").value<std::shared_ptr<ImageData>>()->size(), fullSize);
    QVERIFY(!description.value("metadata").toMap().isEmpty());
    // The thumbnail was made for this load, under the name of the path hash, and only it is left.
    QCOMPARE(description.value("thumbnail").toString(), thumb);
    QVERIFY(!QImage(thumb).isNull());
    QCOMPARE(QDir(path(QStringLiteral("tmp"))).entryList(QDir::Files | QDir::System),
             QStringList{QFileInfo(thumb).fileName()});
    QFile::remove(thumb);
}

void tst_CliPluginLoading::thumbnailKeptWhileNewer()
{
    const QString source = path(QStringLiteral("alpha.png"));
    const QString thumb = thumbnailFor(source);
    const QByteArray marker = "kept thumbnail";
    QFile out(thumb);
    QVERIFY(out.open(QIODevice::WriteOnly) && out.write(marker) > 0);
    out.close();

    QSignalSpy loaded(m_backEnd.get(), &PluginData::imageLoaded);
    m_backEnd->loadImage(source, false);
    QVERIFY(loaded.wait(20000));
    QCOMPARE(loaded.at(0).at(1).toMap().value("thumbnail").toString(), thumb);
    QVERIFY(out.open(QIODevice::ReadOnly));
    QCOMPARE(out.readAll(), marker);
    out.remove();
}

// A newer request makes the results of an older one stale: only the last of two quick loads is
// emitted, and nothing of the first comes later (a third load marks the end).
void tst_CliPluginLoading::twoQuickLoadsOnlyLastEmitted()
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

void tst_CliPluginLoading::corruptFileGivesLoadingError()
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

QTEST_GUILESS_MAIN(tst_CliPluginLoading)
#include "tst_cliplugin_loading.moc"
