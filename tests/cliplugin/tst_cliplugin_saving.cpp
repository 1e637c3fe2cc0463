#include "CLIPluginData.h"
#include "CliPluginTestSupport.h"
#include "TestHelpers.h"
#include "imaging/OvImageWriter.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileOpenEvent>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <opencv2/imgcodecs.hpp>

// Saving results back in place through the real writer, on the back end's worker thread.
class tst_CliPluginSaving : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void directRoute_data();
    void directRoute();
    void applePhotosRoute_data();
    void applePhotosRoute();
    void applePhotosFailingReplacement();
    void writerErrorRelayedUnchanged();
    void nullImageEmitsNothing();

private:
    QString path(const QString &name) const { return m_dir.path() + QLatin1Char('/') + name; }
    void startBackEnd(const QStringList &args);
    void requestSave(const std::shared_ptr<ImageData> &image, const QString &in, const QString &out);
    static std::shared_ptr<ImageData> makeImage(int width, int height);
    static QByteArray read(const QString &file);
    static QSize decodedSize(const QString &file);
    void writeOriginal(const QString &file);

    QTemporaryDir m_dir;
    std::unique_ptr<BackEndThread> m_thread;
    std::unique_ptr<PluginDataRelay> m_relay;
};

void tst_CliPluginSaving::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("tmp")));
    CliPluginTest::useTempDir(path(QStringLiteral("tmp")));
}

void tst_CliPluginSaving::cleanup()
{
    m_relay.reset();
    m_thread.reset();
}

void tst_CliPluginSaving::startBackEnd(const QStringList &args)
{
    auto *backEnd = new CLIPluginData(args);
    m_relay = std::make_unique<PluginDataRelay>(backEnd);
    m_thread = std::make_unique<BackEndThread>(backEnd);
}

// As the facade does: a queued call that runs on the back end's worker thread.
void tst_CliPluginSaving::requestSave(const std::shared_ptr<ImageData> &image, const QString &in,
                                      const QString &out)
{
    PluginData *backEnd = m_thread->backEnd();
    QMetaObject::invokeMethod(
        backEnd, [backEnd, image, in, out] { backEnd->saveImage(image, in, out, QVariantMap(), QVariantMap()); },
        Qt::QueuedConnection);
}

std::shared_ptr<ImageData> tst_CliPluginSaving::makeImage(int width, int height)
{
    return std::make_shared<ImageData>(TestHelpers::makePattern(width, height, CV_8U, 3), cv::Mat());
}

QByteArray tst_CliPluginSaving::read(const QString &file)
{
    QFile in(file);
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
}

QSize tst_CliPluginSaving::decodedSize(const QString &file)
{
    const QByteArray bytes = read(file);
    const cv::Mat decoded = cv::imdecode(std::vector<uchar>(bytes.begin(), bytes.end()), cv::IMREAD_UNCHANGED);
    return decoded.empty() ? QSize() : QSize(decoded.cols, decoded.rows);
}

// A 20 x 10 JPEG whatever the name says, with a maker tag that a save has to carry over.
void tst_CliPluginSaving::writeOriginal(const QString &file)
{
    QVERIFY(QDir().mkpath(QFileInfo(file).absolutePath()));
    const QString jpeg = file + QStringLiteral(".src.jpg");
    QVERIFY(TestHelpers::writeRgbImage(jpeg, TestHelpers::makePattern(20, 10, CV_8U, 3)));
    QVERIFY(TestHelpers::runExifTool({QStringLiteral("-Make=Orvane")}, jpeg));
    QFile::remove(file);
    QVERIFY(QFile::rename(jpeg, file));
}

void tst_CliPluginSaving::directRoute_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::newRow("Capture One") << QStringList{"--editor=Capture One"};
    QTest::newRow("apple photos in other case") << QStringList{"--editor=apple photos"};
    QTest::newRow("stand-alone") << QStringList{};
}

void tst_CliPluginSaving::directRoute()
{
    QFETCH(QStringList, options);
    const QString original = path(QStringLiteral("direct/%1.jpg").arg(QTest::currentDataTag()));
    writeOriginal(original);
    startBackEnd(QStringList{QStringLiteral("prog")} + options + QStringList{original});

    QSignalSpy saved(m_relay.get(), &PluginDataRelay::imageSaved);
    QSignalSpy progress(m_relay.get(), &PluginDataRelay::imageSavingProgress);
    QSignalSpy errors(m_relay.get(), &PluginDataRelay::imageSavingError);
    requestSave(makeImage(50, 30), original, original);
    QVERIFY(saved.wait(20000));
    QCOMPARE(saved.at(0).at(0).toString(), original);
    QCOMPARE(errors.count(), 0);
    QVERIFY(!progress.isEmpty());
    QCOMPARE(progress.last().at(0).toString(), original);
    QCOMPARE(progress.last().at(1).toFloat(), 1.0f);
    QCOMPARE(decodedSize(original), QSize(50, 30));
    QCOMPARE(TestHelpers::exifToolValue(original, QStringLiteral("Make")), QStringLiteral("Orvane"));
    QVERIFY(QDir(path(QStringLiteral("tmp"))).entryList({QStringLiteral("*.jpeg")}, QDir::Files).isEmpty());
}

void tst_CliPluginSaving::applePhotosRoute_data()
{
    QTest::addColumn<bool>("fromUrl");
    QTest::newRow("editor option") << false;
    QTest::newRow("orvane URL while Capture One") << true;
}

void tst_CliPluginSaving::applePhotosRoute()
{
    QFETCH(bool, fromUrl);
    const QString folder = path(QStringLiteral("apple-%1").arg(fromUrl));
    const QString original = folder + QStringLiteral("/IMG_1.HEIC");
    const QString requested = path(QStringLiteral("elsewhere/IMG_1.HEIC"));
    const QString temporary = path(QStringLiteral("tmp/IMG_1.jpeg"));
    writeOriginal(original);

    // The HEIC name is no format the reader opens; a JPEG beside it makes the launch an editor's.
    const QString companion = folder + QStringLiteral("-companion.jpg");
    QVERIFY(TestHelpers::writeRgbImage(companion, TestHelpers::makePattern(8, 8, CV_8U, 3)));
    startBackEnd({QStringLiteral("prog"), fromUrl ? QStringLiteral("--editor=Capture One")
                                                  : QStringLiteral("--editor=Apple Photos"), companion});
    if (fromUrl) {
        QFileOpenEvent event{QUrl(QStringLiteral("orvane:///editor/Apple%20Photos"))};
        QVERIFY(m_thread->backEnd()->eventFilter(qApp, &event));
        QCOMPARE(m_thread->backEnd()->getPluginDisplayName(), QStringLiteral("Capture One"));
    }

    // A link planted under the temporary name must not lead the writer elsewhere.
    const QString victim = path(QStringLiteral("victim.jpeg"));
    QFile::remove(victim);
    QVERIFY(QFile::link(victim, temporary));

    QSignalSpy saved(m_relay.get(), &PluginDataRelay::imageSaved);
    QSignalSpy progress(m_relay.get(), &PluginDataRelay::imageSavingProgress);
    QSignalSpy errors(m_relay.get(), &PluginDataRelay::imageSavingError);
    requestSave(makeImage(50, 30), original, requested);
    QVERIFY(saved.wait(20000));

    QCOMPARE(saved.at(0).at(0).toString(), folder + QStringLiteral("/IMG_1.jpeg"));
    QCOMPARE(errors.count(), 0);
    QVERIFY(!progress.isEmpty());
    QCOMPARE(progress.last().at(0).toString(), temporary);
    QCOMPARE(decodedSize(original), QSize(50, 30));
    QCOMPARE(TestHelpers::exifToolValue(original, QStringLiteral("Make")), QStringLiteral("Orvane"));
    QVERIFY(!QFileInfo::exists(temporary) && !QFileInfo(temporary).isSymLink());
    QVERIFY(!QFile::exists(victim));
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList{QStringLiteral("IMG_1.HEIC")});
    QVERIFY(!QFile::exists(requested));
}

void tst_CliPluginSaving::applePhotosFailingReplacement()
{
    const QString folder = path(QStringLiteral("readonly"));
    const QString original = folder + QStringLiteral("/IMG_2.HEIC");
    writeOriginal(original);
    const QByteArray before = read(original);
    QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup
                                              | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther));

    startBackEnd({QStringLiteral("prog"), QStringLiteral("--editor=Apple Photos"), original});
    bool dropped = false;
    bool probeWritten = true;
    QMetaObject::invokeMethod(
        m_thread->backEnd(),
        [&] {
            dropped = CliPluginTest::setPermissionOverride(false);
            QFile probe(folder + QStringLiteral("/probe"));
            probeWritten = probe.open(QIODevice::WriteOnly);
            if (probeWritten)
                probe.remove();
        },
        Qt::BlockingQueuedConnection);
    QVERIFY(dropped);
    QVERIFY2(!probeWritten, "the worker thread can still write into the read-only folder");

    QSignalSpy saved(m_relay.get(), &PluginDataRelay::imageSaved);
    QSignalSpy errors(m_relay.get(), &PluginDataRelay::imageSavingError);
    MessageCapture log;
    requestSave(makeImage(50, 30), original, original);
    QVERIFY(errors.wait(20000));
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.at(0).at(0).toString(), original);
    QCOMPARE(errors.at(0).at(1).toString(), QStringLiteral("Failed to save back to Apple Photos"));
    QCOMPARE(saved.count(), 0);
    QVERIFY(log.contains(QStringLiteral("Failed to copy image to original location: \"")));
    QCOMPARE(read(original), before);
    QVERIFY(!QFile::exists(path(QStringLiteral("tmp/IMG_2.jpeg"))));
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList{QStringLiteral("IMG_2.HEIC")});

    QMetaObject::invokeMethod(m_thread->backEnd(), [] { CliPluginTest::setPermissionOverride(true); },
                              Qt::BlockingQueuedConnection);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void tst_CliPluginSaving::writerErrorRelayedUnchanged()
{
    const QString original = path(QStringLiteral("source.jpg"));
    writeOriginal(original);
    const QString out = path(QStringLiteral("no/such/folder/out.jpg"));
    const auto image = makeImage(16, 16);

    QString expectedError;
    OvImageWriter writer;
    connect(&writer, &OvImageWriter::errorSaving, this,
            [&expectedError](const QString &, const QString &error) { expectedError = error; });
    writer.saveImage(image, original, out, {}, {});
    QVERIFY(!expectedError.isEmpty());

    startBackEnd({QStringLiteral("prog"), QStringLiteral("--editor=Capture One"), original});
    QSignalSpy saved(m_relay.get(), &PluginDataRelay::imageSaved);
    QSignalSpy errors(m_relay.get(), &PluginDataRelay::imageSavingError);
    requestSave(image, original, out);
    QVERIFY(errors.wait(20000));
    QCOMPARE(errors.at(0).at(0).toString(), out);
    QCOMPARE(errors.at(0).at(1).toString(), expectedError);
    QCOMPARE(saved.count(), 0);
}

void tst_CliPluginSaving::nullImageEmitsNothing()
{
    const QString original = path(QStringLiteral("null/source.jpg"));
    writeOriginal(original);
    const QString other = path(QStringLiteral("null/other.jpg"));
    startBackEnd({QStringLiteral("prog"), QStringLiteral("--editor=Apple Photos"), original});
    QSignalSpy saved(m_relay.get(), &PluginDataRelay::imageSaved);
    QSignalSpy progress(m_relay.get(), &PluginDataRelay::imageSavingProgress);
    QSignalSpy errors(m_relay.get(), &PluginDataRelay::imageSavingError);
    MessageCapture log;
    requestSave(nullptr, original, original);
    // A valid request afterwards; its answer proves the null one has been handled before.
    requestSave(makeImage(12, 12), other, other);
    QVERIFY(saved.wait(20000));
    QCOMPARE(saved.count(), 1);
    QCOMPARE(errors.count(), 0);
    QVERIFY(log.contains(QStringLiteral("Image pointer is null, cannot save image")));
    for (const QList<QVariant> &call : progress)
        QCOMPARE(call.at(0).toString(), path(QStringLiteral("tmp/other.jpeg")));
    // The null request did not touch the original, and the valid one went back to its own input.
    QCOMPARE(decodedSize(original), QSize(20, 10));
    QCOMPARE(saved.at(0).at(0).toString(), other);
}

QTEST_MAIN(tst_CliPluginSaving)
#include "tst_cliplugin_saving.moc"
