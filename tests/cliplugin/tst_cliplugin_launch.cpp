#include "CLIPluginData.h"
#include "TestHelpers.h"

#include <QBuffer>
#include <QColor>
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

// The files of a launch, of a merged second launch, and of the events (file-open, editor URLs,
// drops) that reach the running application through the back end's event filter: which are
// accepted, which rejected, and how they are announced, with the usage event.
class tst_CliPluginLaunch : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void launch_data();
    void launch();
    void merge_data();
    void merge();
    void fileOpen_data();
    void fileOpen();
    void usageEvent();
    void dropImageAndUrls();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QStringList expand(QStringList list) const;
    static bool drop(CLIPluginData &backEnd, QMimeData *mime);

    QTemporaryDir m_dir;
    QString m_detected; // what the parent process of this test makes of it
};

// "%T/" stands for the test folder, "native:" for a path in the system's own separators.
QStringList tst_CliPluginLaunch::expand(QStringList list) const
{
    for (QString &item : list) {
        if (item.startsWith(QLatin1String("native:")))
            item = QDir::toNativeSeparators(path(item.mid(7)));
        item.replace(QStringLiteral("%T/"), m_dir.path() + QLatin1Char('/'));
    }
    return list;
}

void tst_CliPluginLaunch::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("tmp")));
    TestHelpers::setTemporaryFolder(path(QStringLiteral("tmp")));
    // Desktop entries of this machine must not name the parent: only an empty folder is searched.
    qputenv("XDG_DATA_HOME", QFile::encodeName(path(QStringLiteral("xdg"))));
    qputenv("XDG_DATA_DIRS", QFile::encodeName(path(QStringLiteral("xdg"))));
    for (const char *name : {"a.jpg", "b.JPG", "c.png", "2.tif", "with space.jpg", "dropped/one.jpg",
                             "dropped/sub/two.JPEG", "dropped/album.2024/x.tif"}) {
        QVERIFY(QDir().mkpath(QFileInfo(path(QLatin1String(name))).absolutePath()));
        QVERIFY(TestHelpers::writeRgbImage(path(QLatin1String(name)), TestHelpers::makePattern(8, 8, CV_8U, 3)));
    }
    for (const char *name :
         {"d.xmp", "e.XMP", "notes.txt", "dropped/one.xmp", "dropped/sub/list.csv", "dropped/README"})
        QVERIFY(QFile(path(QLatin1String(name))).open(QIODevice::WriteOnly));
    m_detected = CLIPluginData({QStringLiteral("prog"), path(QStringLiteral("a.jpg"))}).getPluginDisplayName();
}

void tst_CliPluginLaunch::launch_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("invalid");
    QTest::addColumn<QString>("editor"); // "<detected>": what the parent process gives

    const QString detected = QStringLiteral("<detected>");
    QTest::newRow("files in order") << QStringList{"prog", "%T/c.png", "%T/a.jpg"}
                                    << QStringList{"%T/c.png", "%T/a.jpg"} << QStringList{} << detected;
    QTest::newRow("forced editor") << QStringList{"prog", "--editor='Capture One'", "%T/a.jpg"}
                                   << QStringList{"%T/a.jpg"} << QStringList{} << "Capture One";
    QTest::newRow("same file twice, native separators, capital extension")
        << QStringList{"prog", "%T/b.JPG", "native:b.JPG"} << QStringList{"%T/b.JPG"} << QStringList{} << detected;
    QTest::newRow("sidecars and missing files dropped silently, text rejected")
        << QStringList{"prog", "%T/d.xmp", "%T/e.XMP", "%T/missing.jpg", "%T/notes.txt", "%T/c.png"}
        << QStringList{"%T/c.png"} << QStringList{"%T/notes.txt"} << detected;
    QTest::newRow("rejects keep their repeats; no file, no editor")
        << QStringList{"prog", "%T/notes.txt", "--Editor=X", "%T/notes.txt"} << QStringList{}
        << QStringList{"%T/notes.txt", "--Editor=X", "%T/notes.txt"} << "";
}

void tst_CliPluginLaunch::launch()
{
    QFETCH(QStringList, args);
    QFETCH(QStringList, files);
    QFETCH(QStringList, invalid);
    QFETCH(QString, editor);
    if (editor == QLatin1String("<detected>"))
        editor = m_detected;

    CLIPluginData backEnd(expand(args));
    QCOMPARE(backEnd.getDataForMerging(), expand(files).join(QStringLiteral("::")));
    QCOMPARE(backEnd.getPluginDisplayName(), editor);
    QCOMPARE(backEnd.getMergableInstanceKey(), editor);

    QSignalSpy added(&backEnd, &PluginData::imagesAdded);
    QSignalSpy rejected(&backEnd, &PluginData::invalidImages);
    backEnd.start();
    QCOMPARE(added.count(), files.isEmpty() ? 0 : 1);
    if (!files.isEmpty())
        QCOMPARE(added.at(0), (QList<QVariant>{expand(files), false}));
    QCOMPARE(rejected.count(), invalid.isEmpty() ? 0 : 1);
    if (!invalid.isEmpty())
        QCOMPARE(rejected.at(0).at(0).toStringList(), expand(invalid));
    QVERIFY(backEnd.getDataForMerging().isEmpty());
}

void tst_CliPluginLaunch::merge_data()
{
    QTest::addColumn<bool>("started");
    QTest::addColumn<QString>("data");
    QTest::addColumn<QStringList>("added");
    QTest::addColumn<QStringList>("invalid");

    // The receiving instance was launched with a.jpg.
    QTest::newRow("doubled separator") << true << "%T/c.png::::%T/2.tif" << QStringList{"%T/c.png", "%T/2.tif"}
                                       << QStringList{};
    QTest::newRow("announced file announced again") << true << "%T/a.jpg" << QStringList{"%T/a.jpg"} << QStringList{};
    QTest::newRow("separator inside a path splits it") << true << "%T/c.png::x::%T/2.tif"
                                                       << QStringList{"%T/c.png", "%T/2.tif"} << QStringList{"x"};
    QTest::newRow("before start: pending file not added twice, waits for start")
        << false << "%T/a.jpg::%T/2.tif" << QStringList{"%T/a.jpg", "%T/2.tif"} << QStringList{};
}

void tst_CliPluginLaunch::merge()
{
    QFETCH(bool, started);
    QFETCH(QString, data);
    QFETCH(QStringList, added);
    QFETCH(QStringList, invalid);

    CLIPluginData backEnd({QStringLiteral("prog"), path(QStringLiteral("a.jpg"))});
    if (started)
        backEnd.start();
    QSignalSpy addedSpy(&backEnd, &PluginData::imagesAdded);
    QSignalSpy invalidSpy(&backEnd, &PluginData::invalidImages);
    backEnd.mergeInstance(expand({data}).first());
    if (!started) {
        QCOMPARE(addedSpy.count() + invalidSpy.count(), 0);
        QCOMPARE(backEnd.getDataForMerging(), expand(added).join(QStringLiteral("::")));
        backEnd.start();
    }
    QCOMPARE(addedSpy.count(), added.isEmpty() ? 0 : 1);
    if (!added.isEmpty())
        QCOMPARE(addedSpy.at(0), (QList<QVariant>{expand(added), started}));
    QCOMPARE(invalidSpy.count(), invalid.isEmpty() ? 0 : 1);
    if (!invalid.isEmpty())
        QCOMPARE(invalidSpy.at(0).at(0).toStringList(), expand(invalid));
}

// Returns whether the drop went on past the back end.
bool tst_CliPluginLaunch::drop(CLIPluginData &backEnd, QMimeData *mime)
{
    QDropEvent event(QPointF(1, 1), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    return !backEnd.eventFilter(qApp, &event);
}

void tst_CliPluginLaunch::fileOpen_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("url"); // "%T/..." or empty: the event carries that file path instead
    QTest::addColumn<QString>("added"); // the file announced; empty: none
    QTest::addColumn<QString>("editor"); // "<detected>": what the parent process gives
    QTest::addColumn<int>("modeChanges");

    const QStringList alone{"prog"};
    const QString detected = QStringLiteral("<detected>");
    const QString spaced = path(QStringLiteral("with space.jpg"));
    const QString percent = QString::fromLatin1(QUrl::toPercentEncoding(spaced, "/"));
    // A stand-alone run looks for its editor again when a file arrives, and says what it found.
    QTest::newRow("file path") << alone << "%T/a.jpg" << "%T/a.jpg" << detected << 1;
    QTest::newRow("local file URL") << alone << QString::fromLatin1(QUrl::fromLocalFile(spaced).toEncoded()) << spaced
                                    << detected << 1;
    QTest::newRow("percent-encoded URL without scheme") << alone << percent << spaced << detected << 1;
    QTest::newRow("stand-alone becomes Apple Photos") << alone << "orvane:///editor/Apple%20Photos" << ""
                                                      << "Apple Photos" << 1;
    QTest::newRow("single slash form") << alone << "orvane:/editor/Photo%2FLab" << "" << "Photo/Lab" << 1;
    QTest::newRow("empty name examines the parent") << alone << "orvane:///editor/" << "" << detected << 1;
    QTest::newRow("an editor keeps its name") << QStringList{"prog", "--editor=Capture One", "%T/a.jpg"}
                                              << "orvane:///editor/Apple%20Photos" << "" << "Capture One" << 0;
    QTest::newRow("other path adds nothing") << alone << "orvane:///open/a.jpg" << "" << "" << 0;
    QTest::newRow("case-sensitive prefix") << alone << "orvane:///Editor/Apple%20Photos" << "" << "" << 0;
}

void tst_CliPluginLaunch::fileOpen()
{
    QFETCH(QStringList, args);
    QFETCH(QString, url);
    QFETCH(QString, added);
    QFETCH(QString, editor);
    QFETCH(int, modeChanges);
    if (editor == QLatin1String("<detected>"))
        editor = m_detected;
    const QString root = m_dir.path() + QLatin1Char('/');
    args = expand(args);
    added.replace(QStringLiteral("%T/"), root);

    CLIPluginData backEnd(args);
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
    QCOMPARE(addedSpy.count(), added.isEmpty() ? 0 : 1);
    if (!added.isEmpty())
        QCOMPARE(addedSpy.at(0), (QList<QVariant>{QStringList{added}, false}));
    QVERIFY(backEnd.getDataForMerging().isEmpty());
}

// The usage event goes out once, as soon as there are files and an editor. Here an editor option
// counts for nothing without files (and leaves the parent unexamined, so there is no process
// name); a drop brings files, an editor URL the editor. Rejections go out before additions, and
// an editor lets drops through untouched.
void tst_CliPluginLaunch::usageEvent()
{
    CLIPluginData backEnd({QStringLiteral("prog"), QStringLiteral("--editor=Capture One")});
    QStringList order;
    QVariantMap params;
    connect(&backEnd, &PluginData::invalidImages, this, [&order] { order << QStringLiteral("invalid"); });
    connect(&backEnd, &PluginData::imagesAdded, this, [&order] { order << QStringLiteral("added"); });
    connect(&backEnd, &PluginData::trackEvent, this, [&](const QString &id, const QVariantMap &p) {
        order << id;
        params = p;
    });
    backEnd.start();
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path(QStringLiteral("notes.txt"))), QUrl::fromLocalFile(path(QStringLiteral("a.jpg"))),
                  QUrl::fromLocalFile(path(QStringLiteral("c.png")))});
    QVERIFY(drop(backEnd, &mime));
    QFileOpenEvent event{QUrl(QStringLiteral("orvane:///editor/Apple%20Photos"))};
    QVERIFY(backEnd.eventFilter(qApp, &event));
    backEnd.start();
    backEnd.mergeInstance(path(QStringLiteral("b.JPG")));
    QCOMPARE(order, (QStringList{"invalid", "added", "CLI Plugin Info", "added"}));
    const QVariantMap expected{{"processName", QString()}, {"externalEditor", QStringLiteral("Apple Photos")},
                               {"fileCount", 2}, {"os", QStringLiteral("Windows")}};
    QCOMPARE(params, expected);

    mime.setUrls({QUrl::fromLocalFile(path(QStringLiteral("with space.jpg")))});
    QVERIFY(drop(backEnd, &mime));
    QCOMPARE(order.size(), 4);
    QVERIFY(backEnd.getDataForMerging().isEmpty());
}

// A forced editor without files is none, so drops are taken. The image is written under the hash
// of its PNG and announced on its own; the URLs keep their order, folders are walked (names
// without a dot and folders with one are no files), and missing files are passed over.
void tst_CliPluginLaunch::dropImageAndUrls()
{
    CLIPluginData backEnd({QStringLiteral("prog"), QStringLiteral("--editor=Ignored")});
    backEnd.start();
    QSignalSpy added(&backEnd, &PluginData::imagesAdded);
    QSignalSpy rejected(&backEnd, &PluginData::invalidImages);

    QImage image(24, 12, QImage::Format_ARGB32);
    image.fill(QColor(10, 200, 30, 128));
    QByteArray png;
    QBuffer buffer(&png);
    QVERIFY(buffer.open(QIODevice::WriteOnly) && image.save(&buffer, "png"));
    const QString dropped = path(QStringLiteral("tmp/%1.png").arg(qHash(QByteArrayView(png), 0)));

    // A path without a scheme counts as a local file. A Windows path has none to give: its drive
    // letter reads as a scheme, so there it comes as a file URL like the others.
#ifdef Q_OS_WIN
    const QUrl withoutScheme = QUrl::fromLocalFile(path(QStringLiteral("with space.jpg")));
#else
    const QUrl withoutScheme(path(QStringLiteral("with space.jpg")));
#endif
    QMimeData mime;
    mime.setImageData(image);
    mime.setUrls({QUrl::fromLocalFile(path(QStringLiteral("a.jpg"))), QUrl::fromLocalFile(path(QStringLiteral("dropped"))),
                  withoutScheme, QUrl::fromLocalFile(path(QStringLiteral("gone.jpg"))),
                  QUrl::fromLocalFile(path(QStringLiteral("notes.txt")))});
    QVERIFY(drop(backEnd, &mime));
    QCOMPARE(added.count(), 2);
    QCOMPARE(added.at(0).at(0).toStringList(), QStringList{dropped});
    QCOMPARE(QImage(dropped).convertToFormat(QImage::Format_ARGB32), image);
    QStringList files = added.at(1).at(0).toStringList();
    QCOMPARE(files.first(), path(QStringLiteral("a.jpg")));
    QCOMPARE(files.last(), path(QStringLiteral("with space.jpg")));
    files.sort();
    QCOMPARE(files, (QStringList{path("a.jpg"), path("dropped/album.2024/x.tif"), path("dropped/one.jpg"),
                                 path("dropped/sub/two.JPEG"), path("with space.jpg")}));
    QCOMPARE(rejected.count(), 1);
    QCOMPARE(rejected.at(0).at(0).toStringList(), (QStringList{path("dropped/sub/list.csv"), path("notes.txt")}));
}

QTEST_MAIN(tst_CliPluginLaunch)
#include "tst_cliplugin_launch.moc"
