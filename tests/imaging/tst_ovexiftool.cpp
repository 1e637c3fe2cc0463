#include "imaging/OvExifTool.h"

#include "TestHelpers.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

#include <memory>

namespace {

QStringList leftovers(const QString &folder, const QString &keep)
{
    QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    names.removeAll(keep);
    return names;
}

// Processes whose parent is this test and whose command line names ExifTool.
int exifToolChildren()
{
    int count = 0;
    for (const qint64 pid : TestHelpers::childProcesses()) {
        if (TestHelpers::processArguments(pid).join(' ').contains("exiftool"))
            ++count;
    }
    return count;
}

} // namespace

class TestOvExifTool : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void readMetadata_data();
    void readMetadata();
    void readMetadataOfMissingFile();
    void answersInOrder();
    void thumbnail_data();
    void thumbnail();
    void plantedLinkIsReplacedNotFollowed();
    void unreadableSourceStillFinishes();
    void worksWithoutExifTool();
    void destructorEndsExifTool();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
    std::unique_ptr<OvExifTool> m_exifTool; // one process for the cases that share it
};

void TestOvExifTool::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QList<QStringList> commands;
    for (int orientation : {3, 6, 8}) {
        const QString file = path(QStringLiteral("oriented-%1.jpg").arg(orientation));
        QVERIFY(TestHelpers::writeRgbImage(file, TestHelpers::quadrants(64, 32)));
        commands << QStringList{QStringLiteral("-n"), QStringLiteral("-Orientation=%1").arg(orientation),
                                QStringLiteral("-Artist=Ada Lovelace"), file};
    }
    // A photo whose embedded preview (flat green) differs from its pixels (quadrants).
    const QString preview = path(QStringLiteral("preview.jpg"));
    QVERIFY(TestHelpers::writeRgbImage(preview, cv::Mat(120, 160, CV_8UC3, cv::Scalar(0, 255, 0))));
    QVERIFY(TestHelpers::writeRgbImage(path(QStringLiteral("with-preview.jpg")), TestHelpers::quadrants(640, 480)));
    commands << QStringList{QStringLiteral("-ThumbnailImage<=") + preview, path(QStringLiteral("with-preview.jpg"))};
    QVERIFY(TestHelpers::runExifToolBatch(commands));
    QVERIFY(TestHelpers::writeRgbImage(path(QStringLiteral("plain.png")), TestHelpers::quadrants(1200, 800)));

    m_exifTool = std::make_unique<OvExifTool>();
}

void TestOvExifTool::readMetadata_data()
{
    QTest::addColumn<int>("orientation");
    QTest::newRow("rotated 180") << 3;
    QTest::newRow("rotated 90 clockwise") << 6;
    QTest::newRow("rotated 90 counter-clockwise") << 8;
}

void TestOvExifTool::readMetadata()
{
    QFETCH(int, orientation);
    const QString file = path(QStringLiteral("oriented-%1.jpg").arg(orientation));

    QSignalSpy finished(m_exifTool.get(), &OvExifTool::readFinished);
    m_exifTool->readMetadata(file);
    QCOMPARE(finished.size(), 0); // answered later, from the event loop
    QVERIFY(finished.wait(20000));
    QCOMPARE(finished.size(), 1);

    QCOMPARE(finished.first().at(0).toString(), file);
    const QVariantMap metadata = finished.first().at(1).toMap();
    QCOMPARE(metadata.value(QStringLiteral("EXIF:Orientation")).toInt(), orientation);
    QCOMPARE(metadata.value(QStringLiteral("EXIF:Artist")).toString(), QStringLiteral("Ada Lovelace"));
    QCOMPARE(metadata.value(QStringLiteral("File:ImageWidth")).toInt(), 64);
    QCOMPARE(metadata.value(QStringLiteral("File:ImageHeight")).toInt(), 32);
}

void TestOvExifTool::readMetadataOfMissingFile()
{
    const QString file = path(QStringLiteral("absent.jpg"));
    QSignalSpy finished(m_exifTool.get(), &OvExifTool::readFinished);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("could not read the metadata of.*absent\\.jpg")));
    m_exifTool->readMetadata(file);
    QVERIFY(finished.wait(20000));
    QCOMPARE(finished.first().at(0).toString(), file);
    QVERIFY(finished.first().at(1).toMap().isEmpty());
}

void TestOvExifTool::answersInOrder()
{
    QStringList answers;
    QObject receiver;
    connect(m_exifTool.get(), &OvExifTool::readFinished, &receiver,
            [&](const QString &file, const QVariantMap &metadata) {
                answers << QStringLiteral("metadata %1 %2").arg(QFileInfo(file).fileName(), metadata.isEmpty() ? QStringLiteral("true") : QStringLiteral("false"));
            });
    connect(m_exifTool.get(), &OvExifTool::thumbnailFinished, &receiver,
            [&](const QString &thumbnail) { answers << QStringLiteral("thumbnail ") + QFileInfo(thumbnail).fileName(); });

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("could not read the metadata of.*gone\\.jpg")));
    m_exifTool->readMetadata(path(QStringLiteral("oriented-3.jpg")));
    m_exifTool->saveThumbnailToFile(path(QStringLiteral("plain.png")), path(QStringLiteral("ordered.jpeg")), 1);
    m_exifTool->readMetadata(path(QStringLiteral("gone.jpg")));
    m_exifTool->readMetadata(path(QStringLiteral("oriented-8.jpg")));

    QTRY_COMPARE_WITH_TIMEOUT(answers.size(), 4, 20000);
    QCOMPARE(answers, (QStringList{QStringLiteral("metadata oriented-3.jpg false"),
                                   QStringLiteral("thumbnail ordered.jpeg"),
                                   QStringLiteral("metadata gone.jpg true"),
                                   QStringLiteral("metadata oriented-8.jpg false")}));
}

void TestOvExifTool::thumbnail_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QSize>("expectedSize");
    QTest::addColumn<QString>("expectedCorners");

    QTest::newRow("embedded preview") << "with-preview.jpg" << 1 << QSize(160, 120) << "GGGG";
    QTest::newRow("embedded preview turned") << "with-preview.jpg" << 6 << QSize(120, 160) << "GGGG";
    QTest::newRow("reduced decode") << "plain.png" << 1 << QSize(300, 200) << "RGBW";
    QTest::newRow("reduced decode turned 6") << "plain.png" << 6 << QSize(200, 300) << "BRWG";
    QTest::newRow("reduced decode turned 3") << "plain.png" << 3 << QSize(300, 200) << "WBGR";
    QTest::newRow("reduced decode turned 8") << "plain.png" << 8 << QSize(200, 300) << "GWRB";
}

void TestOvExifTool::thumbnail()
{
    QFETCH(QString, source);
    QFETCH(int, orientation);
    QFETCH(QSize, expectedSize);
    QFETCH(QString, expectedCorners);

    QTemporaryDir folder;
    const QString thumbnail = folder.filePath(QStringLiteral("123-thumbnail.jpeg"));
    QSignalSpy finished(m_exifTool.get(), &OvExifTool::thumbnailFinished);
    m_exifTool->saveThumbnailToFile(path(source), thumbnail, orientation);
    QVERIFY(finished.wait(20000));
    QCOMPARE(finished.first().first().toString(), thumbnail);

    QFile file(thumbnail);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.read(2), QByteArray("\xff\xd8")); // a JPEG
    const cv::Mat written = cv::imread(QFile::encodeName(thumbnail).toStdString(), cv::IMREAD_COLOR);
    QCOMPARE(QSize(written.cols, written.rows), expectedSize);
    QCOMPARE(TestHelpers::quadrantCorners(written, true), expectedCorners);
    QCOMPARE(leftovers(folder.path(), QStringLiteral("123-thumbnail.jpeg")), QStringList());
}

void TestOvExifTool::plantedLinkIsReplacedNotFollowed()
{
    QTemporaryDir folder;
    const QString victim = folder.filePath(QStringLiteral("victim.txt"));
    {
        QFile file(victim);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("must stay as it is");
    }
    const QString thumbnail = folder.filePath(QStringLiteral("link-thumbnail.jpeg"));
    QVERIFY(QFile::link(victim, thumbnail));

    QSignalSpy finished(m_exifTool.get(), &OvExifTool::thumbnailFinished);
    m_exifTool->saveThumbnailToFile(path(QStringLiteral("plain.png")), thumbnail, 1);
    QVERIFY(finished.wait(20000));

    const QFileInfo written(thumbnail);
    QVERIFY(!written.isSymLink());
    QVERIFY(written.isFile());
    QCOMPARE(cv::imread(QFile::encodeName(thumbnail).toStdString()).cols, 300);
    QFile file(victim);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("must stay as it is"));
}

void TestOvExifTool::unreadableSourceStillFinishes()
{
    QTemporaryDir folder;
    const QString source = folder.filePath(QStringLiteral("broken.jpg"));
    {
        QFile file(source);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not an image at all");
    }
    const QString thumbnail = folder.filePath(QStringLiteral("broken-thumbnail.jpeg"));
    QSignalSpy finished(m_exifTool.get(), &OvExifTool::thumbnailFinished);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Cannot make a thumbnail of.*broken\\.jpg")));
    m_exifTool->saveThumbnailToFile(source, thumbnail, 1);
    QVERIFY(finished.wait(20000));
    QCOMPARE(finished.first().first().toString(), thumbnail);
    QVERIFY(!QFileInfo::exists(thumbnail));
    QCOMPARE(leftovers(folder.path(), QStringLiteral("broken.jpg")), QStringList());
}

void TestOvExifTool::worksWithoutExifTool()
{
    const QByteArray savedPath = qgetenv("PATH");
    QTemporaryDir emptyBin;
    qputenv("PATH", QFile::encodeName(emptyBin.path()));
    OvExifTool exifTool;
    QSignalSpy read(&exifTool, &OvExifTool::readFinished);
    QSignalSpy thumbnails(&exifTool, &OvExifTool::thumbnailFinished);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("ExifTool could not be started")));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("could not read the metadata of.*oriented-6\\.jpg")));
    exifTool.readMetadata(path(QStringLiteral("oriented-6.jpg")));
    QVERIFY(read.wait(20000));
    qputenv("PATH", savedPath);
    QVERIFY(read.first().at(1).toMap().isEmpty());

    // The thumbnail falls back to decoding the file itself.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("ExifTool could not be started")));
    qputenv("PATH", QFile::encodeName(emptyBin.path()));
    const QString thumbnail = emptyBin.filePath(QStringLiteral("fallback-thumbnail.jpeg"));
    exifTool.saveThumbnailToFile(path(QStringLiteral("plain.png")), thumbnail, 6);
    QVERIFY(thumbnails.wait(20000));
    qputenv("PATH", savedPath);
    const cv::Mat written = cv::imread(QFile::encodeName(thumbnail).toStdString());
    QCOMPARE(QSize(written.cols, written.rows), QSize(200, 300));
}

void TestOvExifTool::destructorEndsExifTool()
{
    if (!QFileInfo(QStringLiteral("/proc/self/stat")).exists())
        QSKIP("Needs /proc to see child processes");
    m_exifTool.reset();
    QCOMPARE(exifToolChildren(), 0);

    auto exifTool = std::make_unique<OvExifTool>();
    QSignalSpy finished(exifTool.get(), &OvExifTool::readFinished);
    exifTool->readMetadata(path(QStringLiteral("oriented-3.jpg")));
    QVERIFY(finished.wait(20000));
    QCOMPARE(exifToolChildren(), 1); // one long-lived process
    exifTool->readMetadata(path(QStringLiteral("oriented-6.jpg")));
    QVERIFY(finished.wait(20000));
    QCOMPARE(exifToolChildren(), 1);

    exifTool.reset();
    QCOMPARE(exifToolChildren(), 0);
}

QTEST_GUILESS_MAIN(TestOvExifTool)
#include "tst_ovexiftool.moc"
