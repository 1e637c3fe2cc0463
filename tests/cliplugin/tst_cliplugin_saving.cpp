#include "CLIPluginData.h"
#include "TestHelpers.h"
#include "imaging/OvImageWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileOpenEvent>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <opencv2/imgcodecs.hpp>

// Saving results back in place through the real writer, and the "Apple Photos" route that goes
// through a temporary JPEG copied over the original.
class tst_CliPluginSaving : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void save_data();
    void save();
    void nullImageEmitsNothing();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
};

void tst_CliPluginSaving::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("tmp")));
    qputenv("TMPDIR", QFile::encodeName(path(QStringLiteral("tmp"))));
}

void tst_CliPluginSaving::save_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("url"); // an "orvane" URL the back end receives before the save
    QTest::addColumn<QString>("original");
    QTest::addColumn<QString>("requested");
    QTest::addColumn<QString>("reported"); // empty: the save fails
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("progressPath");

    const QString c1 = QStringLiteral("--editor=Capture One");
    QTest::newRow("Capture One") << QStringList{c1} << "" << "c1/a.jpg" << "c1/a.jpg" << "c1/a.jpg" << "" << "c1/a.jpg";
    QTest::newRow("apple photos in other case") << QStringList{"--editor=apple photos"} << "" << "lc/a.jpg"
                                                << "lc/a.jpg" << "lc/a.jpg" << "" << "lc/a.jpg";
    QTest::newRow("stand-alone") << QStringList{} << "" << "sa/a.jpg" << "sa/a.jpg" << "sa/a.jpg" << "" << "sa/a.jpg";
    QTest::newRow("writer error relayed") << QStringList{c1} << "" << "we/a.jpg" << "we/no/such/out.jpg" << ""
                                          << "<writer>" << "";
    QTest::newRow("Apple Photos") << QStringList{"--editor=Apple Photos"} << "" << "ap/IMG_1.HEIC"
                                  << "elsewhere/IMG_1.HEIC" << "ap/IMG_1.jpeg" << "" << "tmp/IMG_1.jpeg";
    QTest::newRow("Apple Photos by URL while Capture One") << QStringList{c1} << "orvane:///editor/Apple%20Photos"
                                                           << "au/IMG_1.HEIC" << "au/IMG_1.HEIC" << "au/IMG_1.jpeg"
                                                           << "" << "tmp/IMG_1.jpeg";
    QTest::newRow("Apple Photos, original cannot be replaced") << QStringList{"--editor=Apple Photos"} << ""
                                                               << "gone/IMG_2.HEIC" << "gone/IMG_2.HEIC" << ""
                                                               << "Failed to save back to Apple Photos" << "";
}

void tst_CliPluginSaving::save()
{
    QFETCH(QStringList, options);
    QFETCH(QString, url);
    QFETCH(QString, original);
    QFETCH(QString, requested);
    QFETCH(QString, reported);
    QFETCH(QString, error);
    QFETCH(QString, progressPath);
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

    CLIPluginData backEnd(QStringList{QStringLiteral("prog")} + options + QStringList{companion});
    if (!url.isEmpty()) {
        QFileOpenEvent event{QUrl(url)};
        QVERIFY(backEnd.eventFilter(nullptr, &event));
        QCOMPARE(backEnd.getPluginDisplayName(), QStringLiteral("Capture One"));
    }

    const auto image = std::make_shared<ImageData>(TestHelpers::makePattern(50, 30, CV_8U, 3), cv::Mat());
    if (error == QLatin1String("<writer>")) {
        OvImageWriter writer;
        QSignalSpy writerError(&writer, &OvImageWriter::errorSaving);
        writer.saveImage(image, original, requested, {}, {});
        error = writerError.at(0).at(1).toString();
    }
    QSignalSpy saved(&backEnd, &PluginData::imageSaved);
    QSignalSpy progress(&backEnd, &PluginData::imageSavingProgress);
    QSignalSpy errors(&backEnd, &PluginData::imageSavingError);
    if (original.contains(QLatin1String("/gone/")))
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Failed to copy image to original location: ")));
    backEnd.saveImage(image, original, requested, {}, {});

    if (reported.isEmpty()) {
        QCOMPARE(saved.count(), 0);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toString(), original.contains(QLatin1String("/gone/")) ? original : requested);
        QCOMPARE(errors.at(0).at(1).toString(), error);
    } else {
        QCOMPARE(errors.count(), 0);
        QCOMPARE(saved.count(), 1);
        QCOMPARE(saved.at(0).at(0).toString(), path(reported));
        QCOMPARE(progress.last().at(0).toString(), path(progressPath));
        QCOMPARE(progress.last().at(1).toFloat(), 1.0f);
        const cv::Mat written = cv::imread(QFile::encodeName(original).toStdString());
        QCOMPARE(QSize(written.cols, written.rows), QSize(50, 30));
        QCOMPARE(TestHelpers::exifToolValues(original, {QStringLiteral("Make")}).value("Make"), QStringLiteral("Orvane"));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList{QFileInfo(original).fileName()});
    }
    QVERIFY(!QFileInfo::exists(temporary));
}

void tst_CliPluginSaving::nullImageEmitsNothing()
{
    const QString original = path(QStringLiteral("null.jpg"));
    QVERIFY(TestHelpers::writeRgbImage(original, TestHelpers::makePattern(20, 10, CV_8U, 3)));
    CLIPluginData backEnd({QStringLiteral("prog"), QStringLiteral("--editor=Apple Photos"), original});
    QSignalSpy saved(&backEnd, &PluginData::imageSaved);
    QSignalSpy progress(&backEnd, &PluginData::imageSavingProgress);
    QSignalSpy errors(&backEnd, &PluginData::imageSavingError);
    QTest::ignoreMessage(QtCriticalMsg, "Image pointer is null, cannot save image");
    backEnd.saveImage(nullptr, original, original, {}, {});
    QCOMPARE(saved.count() + progress.count() + errors.count(), 0);
    QVERIFY(QFileInfo(original).size() > 0);
}

QTEST_MAIN(tst_CliPluginSaving)
#include "tst_cliplugin_saving.moc"
