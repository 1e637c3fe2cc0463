#include "CLIPluginData.h"
#include "TestHelpers.h"

#include <QBuffer>
#include <QDir>
#include <QDropEvent>
#include <QFileOpenEvent>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <memory>

// Files and instructions that reach the running application as events, handed to the back end's
// event filter as the facade hands them.
class tst_CliPluginEvents : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void fileOpen_data();
    void fileOpen();
    void editorUrlAfterFilesSendsInfoOnce();
    void dropImage();
    void dropUrlsAndFolder();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    static bool drop(CLIPluginData &backEnd, QMimeData *mime);

    QTemporaryDir m_dir;
    QString m_detected; // what the parent process of this test makes of it
};

void tst_CliPluginEvents::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("tmp")));
    qputenv("TMPDIR", QFile::encodeName(path(QStringLiteral("tmp"))));
    qputenv("XDG_DATA_HOME", QFile::encodeName(path(QStringLiteral("xdg"))));
    qputenv("XDG_DATA_DIRS", QFile::encodeName(path(QStringLiteral("xdg"))));
    for (const char *name : {"a.jpg", "with space.jpg", "dropped/one.jpg", "dropped/sub/two.JPEG"}) {
        QVERIFY(QDir().mkpath(QFileInfo(path(QLatin1String(name))).absolutePath()));
        QVERIFY(TestHelpers::writeRgbImage(path(QLatin1String(name)), TestHelpers::makePattern(8, 8, CV_8U, 3)));
    }
    for (const char *name : {"notes.txt", "dropped/one.xmp", "dropped/sub/list.csv"})
        QVERIFY(QFile(path(QLatin1String(name))).open(QIODevice::WriteOnly));
    m_detected = CLIPluginData({QStringLiteral("prog"), path(QStringLiteral("a.jpg"))}).getPluginDisplayName();
}

// Returns whether the drop went on past the back end.
bool tst_CliPluginEvents::drop(CLIPluginData &backEnd, QMimeData *mime)
{
    QDropEvent event(QPointF(1, 1), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    return !backEnd.eventFilter(qApp, &event);
}

void tst_CliPluginEvents::fileOpen_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("started");
    QTest::addColumn<QString>("url"); // "%T/..." or empty: the event carries that file path instead
    QTest::addColumn<QString>("added"); // the file announced; empty: none
    QTest::addColumn<QString>("editor"); // "<detected>": what the parent process gives
    QTest::addColumn<int>("modeChanges");

    const QStringList alone{"prog"};
    const QString detected = QStringLiteral("<detected>");
    const QString spaced = path(QStringLiteral("with space.jpg"));
    const QString percent = QString::fromLatin1(QUrl::toPercentEncoding(spaced, "/"));
    // A stand-alone run looks for its editor again when a file arrives, and says what it found.
    QTest::newRow("file path") << alone << true << "%T/a.jpg" << "%T/a.jpg" << detected << 1;
    QTest::newRow("local file URL") << alone << true << "file://" + percent << spaced << detected << 1;
    QTest::newRow("percent-encoded URL without scheme") << alone << true << percent << spaced << detected << 1;
    QTest::newRow("before start: waits") << alone << false << "%T/a.jpg" << "%T/a.jpg" << detected << 1;
    QTest::newRow("stand-alone becomes Apple Photos") << alone << true << "orvane:///editor/Apple%20Photos" << ""
                                                      << "Apple Photos" << 1;
    QTest::newRow("single slash form") << alone << true << "orvane:/editor/Photo%2FLab" << "" << "Photo/Lab" << 1;
    QTest::newRow("empty name examines the parent") << alone << true << "orvane:///editor/" << "" << detected << 1;
    QTest::newRow("an editor keeps its name") << QStringList{"prog", "--editor=Capture One", "%T/a.jpg"} << true
                                              << "orvane:///editor/Apple%20Photos" << "" << "Capture One" << 0;
    QTest::newRow("other path adds nothing") << alone << true << "orvane:///open/a.jpg" << "" << "" << 0;
    QTest::newRow("case-sensitive prefix") << alone << true << "orvane:///Editor/Apple%20Photos" << "" << "" << 0;
}

void tst_CliPluginEvents::fileOpen()
{
    QFETCH(QStringList, args);
    QFETCH(bool, started);
    QFETCH(QString, url);
    QFETCH(QString, added);
    QFETCH(QString, editor);
    QFETCH(int, modeChanges);
    if (editor == QLatin1String("<detected>"))
        editor = m_detected;
    const QString root = m_dir.path() + QLatin1Char('/');
    args.replaceInStrings(QStringLiteral("%T/"), root);
    added.replace(QStringLiteral("%T/"), root);

    CLIPluginData backEnd(args);
    if (started)
        backEnd.start();
    QSignalSpy mode(&backEnd, &PluginData::isPluginModeChanged);
    QSignalSpy addedSpy(&backEnd, &PluginData::imagesAdded);
    const auto event = url.startsWith(QLatin1String("%T/")) ? std::make_unique<QFileOpenEvent>(url.replace("%T/", root))
                                                             : std::make_unique<QFileOpenEvent>(QUrl(url));
    QVERIFY(backEnd.eventFilter(qApp, event.get()));
    QCOMPARE(mode.count(), modeChanges);
    if (modeChanges)
        QCOMPARE(mode.at(0).at(0).toBool(), !editor.isEmpty());
    QCOMPARE(backEnd.getPluginDisplayName(), editor);
    QCOMPARE(backEnd.getMergableInstanceKey(), editor);
    if (!started) {
        QCOMPARE(addedSpy.count(), 0);
        QCOMPARE(backEnd.getDataForMerging(), added);
        backEnd.start();
    }
    QCOMPARE(addedSpy.count(), added.isEmpty() ? 0 : 1);
    if (!added.isEmpty())
        QCOMPARE(addedSpy.at(0), (QList<QVariant>{QStringList{added}, false}));
    QVERIFY(backEnd.getDataForMerging().isEmpty());
}

void tst_CliPluginEvents::editorUrlAfterFilesSendsInfoOnce()
{
    // Stand-alone with a dropped file: no editor yet, so no usage event.
    CLIPluginData backEnd({QStringLiteral("prog")});
    backEnd.start();
    QSignalSpy events(&backEnd, &PluginData::trackEvent);
    QSignalSpy mode(&backEnd, &PluginData::isPluginModeChanged);
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path(QStringLiteral("a.jpg")))});
    QVERIFY(drop(backEnd, &mime));
    QCOMPARE(events.count(), 0);

    QFileOpenEvent event{QUrl(QStringLiteral("orvane:///editor/Apple%20Photos"))};
    QVERIFY(backEnd.eventFilter(qApp, &event));
    QFileOpenEvent again{QUrl(QStringLiteral("orvane:///editor/Other"))};
    QVERIFY(backEnd.eventFilter(qApp, &again));
    QCOMPARE(events.count(), 1);
    QCOMPARE(events.at(0).at(0).toString(), QStringLiteral("CLI Plugin Info"));
    QCOMPARE(events.at(0).at(1).toMap().value("externalEditor").toString(), QStringLiteral("Apple Photos"));
    QCOMPARE(events.at(0).at(1).toMap().value("fileCount").toInt(), 1);
    QCOMPARE(mode.count(), 1);
    QCOMPARE(backEnd.getPluginDisplayName(), QStringLiteral("Apple Photos"));

    // An editor ignores drops and lets them through.
    mime.setUrls({QUrl::fromLocalFile(path(QStringLiteral("with space.jpg")))});
    QSignalSpy added(&backEnd, &PluginData::imagesAdded);
    QVERIFY(drop(backEnd, &mime));
    QCOMPARE(added.count(), 0);
    QVERIFY(backEnd.getDataForMerging().isEmpty());
}

void tst_CliPluginEvents::dropImage()
{
    // A forced editor without files is none: drops are taken.
    CLIPluginData backEnd({QStringLiteral("prog"), QStringLiteral("--editor=Ignored")});
    backEnd.start();
    QSignalSpy added(&backEnd, &PluginData::imagesAdded);

    QImage image(24, 12, QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgba(x * 10, y * 20, (x + y) % 2 ? 255 : 0, 128 + x));
    QByteArray png;
    QBuffer buffer(&png);
    QVERIFY(buffer.open(QIODevice::WriteOnly) && image.save(&buffer, "png"));
    const QString expected = path(QStringLiteral("tmp/%1.png").arg(qHash(QByteArrayView(png), 0)));

    for (int round = 0; round < 2; ++round) {
        QMimeData mime;
        mime.setImageData(image);
        QVERIFY(drop(backEnd, &mime));
        QCOMPARE(added.count(), round + 1);
        QCOMPARE(added.at(round).at(0).toStringList(), QStringList{expected});
    }
    QCOMPARE(QImage(expected).convertToFormat(QImage::Format_ARGB32), image);
}

void tst_CliPluginEvents::dropUrlsAndFolder()
{
    CLIPluginData backEnd({QStringLiteral("prog")});
    backEnd.start();
    QSignalSpy added(&backEnd, &PluginData::imagesAdded);
    QSignalSpy rejected(&backEnd, &PluginData::invalidImages);

    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path(QStringLiteral("a.jpg"))), QUrl::fromLocalFile(path(QStringLiteral("dropped"))),
                  QUrl(path(QStringLiteral("with space.jpg"))), QUrl::fromLocalFile(path(QStringLiteral("gone.jpg"))),
                  QUrl::fromLocalFile(path(QStringLiteral("notes.txt")))});
    QVERIFY(drop(backEnd, &mime));
    QCOMPARE(added.count(), 1);
    QStringList files = added.at(0).at(0).toStringList();
    QCOMPARE(files.first(), path(QStringLiteral("a.jpg")));
    QCOMPARE(files.last(), path(QStringLiteral("with space.jpg")));
    files.sort();
    QCOMPARE(files, (QStringList{path("a.jpg"), path("dropped/one.jpg"), path("dropped/sub/two.JPEG"),
                                 path("with space.jpg")}));
    QCOMPARE(rejected.count(), 1);
    QCOMPARE(rejected.at(0).at(0).toStringList(), (QStringList{path("dropped/sub/list.csv"), path("notes.txt")}));
}

QTEST_MAIN(tst_CliPluginEvents)
#include "tst_cliplugin_events.moc"
