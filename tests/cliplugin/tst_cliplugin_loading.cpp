#include "CLIPluginData.h"
#include "CliPluginTestSupport.h"
#include "TestHelpers.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <opencv2/imgcodecs.hpp>

// Loading announced files with the real ExifTool and image reader: the back end runs on a worker
// thread of its own and its reader on the reader thread; signals are watched through a relay.
class tst_CliPluginLoading : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void fullLoad_data();
    void fullLoad();
    void thumbnailReusedUntilSourceChanges();
    void plantedLinkIsReplaced();
    void twoQuickLoadsOnlyLastEmitted();
    void corruptFileGivesLoadingError();

private:
    QString path(const QString &name) const { return m_dir.path() + QLatin1Char('/') + name; }
    static QString thumbnailFor(const QString &source);
    void requestLoad(const QString &id);
    QStringList thumbnailFiles() const;

    QTemporaryDir m_dir;
    std::unique_ptr<BackEndThread> m_thread;
    std::unique_ptr<PluginDataRelay> m_relay;
};

void tst_CliPluginLoading::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("tmp")));
    CliPluginTest::useTempDir(path(QStringLiteral("tmp")));
    QCOMPARE(QStandardPaths::writableLocation(QStandardPaths::TempLocation), path(QStringLiteral("tmp")));

    // A JPEG stored sideways (EXIF orientation 6), a 16-bit TIFF and a PNG with alpha.
    QVERIFY(TestHelpers::writeRgbImage(path(QStringLiteral("rotated.jpg")),
                                       TestHelpers::makePattern(64, 32, CV_8U, 3)));
    QVERIFY(TestHelpers::runExifTool({QStringLiteral("-Orientation#=6"), QStringLiteral("-Make=Orvane")},
                                     path(QStringLiteral("rotated.jpg"))));
    QVERIFY(TestHelpers::writeRgbImage(path(QStringLiteral("deep.tif")),
                                       TestHelpers::makePattern(48, 40, CV_16U, 3)));
    QVERIFY(TestHelpers::writeRgbImage(path(QStringLiteral("alpha.png")),
                                       TestHelpers::makePattern(30, 20, CV_8U, 4)));
    QVERIFY(TestHelpers::writeRgbImage(path(QStringLiteral("plain.jpg")),
                                       TestHelpers::makePattern(40, 30, CV_8U, 3)));
    QFile broken(path(QStringLiteral("broken.jpg")));
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write("\xff\xd8\xff\xe0 this is not a picture at all");
}

void tst_CliPluginLoading::init()
{
    auto *backEnd = new CLIPluginData({QStringLiteral("prog")});
    m_relay = std::make_unique<PluginDataRelay>(backEnd);
    m_thread = std::make_unique<BackEndThread>(backEnd);
}

void tst_CliPluginLoading::cleanup()
{
    m_relay.reset();
    m_thread.reset();
}

QString tst_CliPluginLoading::thumbnailFor(const QString &source)
{
    return QDir::tempPath() + QLatin1Char('/') + QString::number(qHash(QStringView(source), 0))
        + QStringLiteral("-thumbnail.jpeg");
}

// As the facade does: a queued call that runs on the back end's worker thread.
void tst_CliPluginLoading::requestLoad(const QString &id)
{
    QVERIFY(QMetaObject::invokeMethod(m_thread->backEnd(), "loadImage", Qt::QueuedConnection,
                                      Q_ARG(QString, id), Q_ARG(bool, false)));
}

QStringList tst_CliPluginLoading::thumbnailFiles() const
{
    return QDir(path(QStringLiteral("tmp"))).entryList({QStringLiteral("*thumbnail*")}, QDir::Files | QDir::System);
}

void tst_CliPluginLoading::fullLoad_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QSize>("fullSize");
    QTest::addColumn<int>("statusChanges");
    QTest::addColumn<QString>("make");
    // Reading metadata, Decoding image, (Rotating image,) and empty again.
    QTest::newRow("JPEG with EXIF orientation") << "rotated.jpg" << QSize(32, 64) << 4 << "Orvane";
    QTest::newRow("16-bit TIFF") << "deep.tif" << QSize(48, 40) << 3 << "";
    QTest::newRow("PNG with alpha") << "alpha.png" << QSize(30, 20) << 3 << "";
}

void tst_CliPluginLoading::fullLoad()
{
    QFETCH(QString, file);
    QFETCH(QSize, fullSize);
    QFETCH(int, statusChanges);
    QFETCH(QString, make);
    const QString source = path(file);
    const QString thumb = thumbnailFor(source);
    QFile::remove(thumb);

    QSignalSpy loaded(m_relay.get(), &PluginDataRelay::imageLoaded);
    QSignalSpy loading(m_relay.get(), &PluginDataRelay::isLoadingChanged);
    QSignalSpy status(m_relay.get(), &PluginDataRelay::loadingStatusChanged);
    QSignalSpy errors(m_relay.get(), &PluginDataRelay::loadingErrorChanged);
    requestLoad(source);
    QVERIFY(loaded.wait(20000));
    QTRY_COMPARE(loading.count(), 2);
    QCOMPARE(loading.at(0).at(0).toBool(), true);
    QCOMPARE(loading.at(1).at(0).toBool(), false);
    QCOMPARE(loaded.count(), 1);
    QCOMPARE(errors.count(), 0);
    QCOMPARE(status.count(), statusChanges);
    QVERIFY(!m_thread->backEnd()->isLoading());
    QVERIFY(m_thread->backEnd()->loadingStatus().isEmpty());

    QCOMPARE(loaded.at(0).at(0).toString(), source);
    const QVariantMap description = loaded.at(0).at(1).toMap();
    QCOMPARE(description.value("filepath").toString(), source);
    QCOMPARE(description.value("fullSize").value<QSize>(), fullSize);
    const auto image = description.value("image").value<std::shared_ptr<ImageData>>();
    QVERIFY(image);
    QCOMPARE(image->size(), fullSize);
    QCOMPARE(description.value("metadata").toMap().isEmpty(), false);
    if (!make.isEmpty())
        QVERIFY(description.value("metadata").toMap().values().contains(make));

    // The thumbnail was made for this load, under the name of the path hash, and only it is left.
    QCOMPARE(description.value("thumbnail").toString(), thumb);
    QVERIFY(QFileInfo(thumb).isFile());
    QVERIFY(!QImage(thumb).isNull());
    QCOMPARE(thumbnailFiles(), QStringList{QFileInfo(thumb).fileName()});
    QFile::remove(thumb);
}

void tst_CliPluginLoading::thumbnailReusedUntilSourceChanges()
{
    const QString source = path(QStringLiteral("plain.jpg"));
    const QString thumb = thumbnailFor(source);
    QSignalSpy loaded(m_relay.get(), &PluginDataRelay::imageLoaded);
    requestLoad(source);
    QVERIFY(loaded.wait(20000));
    QVERIFY(QFileInfo(thumb).isFile());

    // Still newer than its source: the thumbnail is taken as it is.
    const QByteArray marker = "kept thumbnail";
    {
        QFile out(thumb);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(marker);
    }
    requestLoad(source);
    QTRY_COMPARE(loaded.count(), 2);
    QCOMPARE(loaded.at(1).at(1).toMap().value("thumbnail").toString(), thumb);
    QFile kept(thumb);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), marker);
    kept.close();

    // A source changed after its thumbnail gets a new one.
    QFile sourceFile(source);
    QVERIFY(sourceFile.open(QIODevice::ReadWrite));
    QVERIFY(sourceFile.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
    sourceFile.close();
    requestLoad(source);
    QTRY_COMPARE(loaded.count(), 3);
    QVERIFY(!QImage(thumb).isNull());
    QCOMPARE(thumbnailFiles(), QStringList{QFileInfo(thumb).fileName()});
}

void tst_CliPluginLoading::plantedLinkIsReplaced()
{
    const QString source = path(QStringLiteral("alpha.png"));
    const QString thumb = thumbnailFor(source);
    QFile::remove(thumb);
    const QString victim = path(QStringLiteral("victim.txt"));
    {
        QFile out(victim);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write("not yours");
    }
    QVERIFY(QFile::link(victim, thumb));

    QSignalSpy loaded(m_relay.get(), &PluginDataRelay::imageLoaded);
    requestLoad(source);
    QVERIFY(loaded.wait(20000));
    QCOMPARE(loaded.at(0).at(1).toMap().value("thumbnail").toString(), thumb);
    QVERIFY(!QFileInfo(thumb).isSymLink());
    QVERIFY(!QImage(thumb).isNull());
    QFile victimFile(victim);
    QVERIFY(victimFile.open(QIODevice::ReadOnly));
    QCOMPARE(victimFile.readAll(), QByteArray("not yours"));
}

void tst_CliPluginLoading::twoQuickLoadsOnlyLastEmitted()
{
    const QString first = path(QStringLiteral("deep.tif"));
    const QString second = path(QStringLiteral("rotated.jpg"));
    QSignalSpy loaded(m_relay.get(), &PluginDataRelay::imageLoaded);
    QSignalSpy loading(m_relay.get(), &PluginDataRelay::isLoadingChanged);
    QSignalSpy status(m_relay.get(), &PluginDataRelay::loadingStatusChanged);
    requestLoad(first);
    requestLoad(second);
    QVERIFY(loaded.wait(20000));
    QTRY_COMPARE(loading.count(), 3);
    QCOMPARE(loaded.count(), 1);
    QCOMPARE(loaded.at(0).at(0).toString(), second);
    QCOMPARE(loading.at(0).at(0).toBool(), true);
    QCOMPARE(loading.at(1).at(0).toBool(), true);
    QCOMPARE(loading.at(2).at(0).toBool(), false);
    // "Reading metadata" twice in a row is one change; then each file's own statuses.
    QCOMPARE(status.count(), 1 + 2 + 3);
}

void tst_CliPluginLoading::corruptFileGivesLoadingError()
{
    QSignalSpy loaded(m_relay.get(), &PluginDataRelay::imageLoaded);
    QSignalSpy loading(m_relay.get(), &PluginDataRelay::isLoadingChanged);
    QSignalSpy errors(m_relay.get(), &PluginDataRelay::loadingErrorChanged);
    MessageCapture log;
    const QString broken = path(QStringLiteral("broken.jpg"));
    requestLoad(broken);
    QVERIFY(errors.wait(20000));
    QTRY_COMPARE(loading.count(), 2);
    QCOMPARE(loading.at(1).at(0).toBool(), false);
    QCOMPARE(loaded.count(), 0);
    const QString error = m_thread->backEnd()->loadingError();
    QVERIFY(error.contains(QDir::toNativeSeparators(broken)) || error.contains(QStringLiteral("broken.jpg")));
    QVERIFY(m_thread->backEnd()->loadingStatus().isEmpty());
    QVERIFY(log.contains(QStringLiteral("Error loading image: \"%1\"").arg(error)));

    // A later successful load leaves the error text in place.
    requestLoad(path(QStringLiteral("plain.jpg")));
    QVERIFY(loaded.wait(20000));
    QCOMPARE(m_thread->backEnd()->loadingError(), error);
    QCOMPARE(errors.count(), 1);
}

QTEST_GUILESS_MAIN(tst_CliPluginLoading)
#include "tst_cliplugin_loading.moc"
