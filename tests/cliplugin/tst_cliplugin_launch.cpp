#include "CLIPluginData.h"
#include "CliPluginTestSupport.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// The command line of a launch: sorting of the arguments, the editor option, the announcement
// at start, the usage event and the fixed answers of the back end.
class tst_CliPluginLaunch : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void argumentSorting_data();
    void argumentSorting();
    void announcementOrder();
    void startWithNothingEmitsNothing();
    void infoEventOnceWithFourParameters();
    void forcedEditorWithoutFilesIsNotPluginMode();
    void fixedAnswers();
    void imageSizeFromHeader();
    void destructorStopsReaderThread();

private:
    QString path(const QString &name) const { return m_dir.path() + QLatin1Char('/') + name; }
    QStringList expand(const QStringList &list) const;
    QString detectedEditor();

    QTemporaryDir m_dir;
};

QStringList tst_CliPluginLaunch::expand(const QStringList &list) const
{
    QStringList result;
    for (const QString &item : list) {
        if (item.startsWith(QLatin1String("native:")))
            result << QDir::toNativeSeparators(path(item.mid(7)));
        else if (item.startsWith(QLatin1String("%T/")))
            result << path(item.mid(3));
        else
            result << item;
    }
    return result;
}

// What the parent process of this test makes of it: the answer of a back end without option.
QString tst_CliPluginLaunch::detectedEditor()
{
    CLIPluginData plain({QStringLiteral("prog"), path(QStringLiteral("a.jpg"))});
    return plain.getPluginDisplayName();
}

void tst_CliPluginLaunch::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // Desktop entries of this machine must not name the parent: only an empty folder is searched.
    QDir(m_dir.path()).mkpath(QStringLiteral("xdg"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(path(QStringLiteral("xdg"))));
    qputenv("XDG_DATA_DIRS", QFile::encodeName(path(QStringLiteral("xdg"))));
    QVERIFY(CliPluginTest::writeJpeg(path(QStringLiteral("a.jpg")), 32, 24));
    QVERIFY(CliPluginTest::writeJpeg(path(QStringLiteral("b.JPG")), 32, 24));
    QVERIFY(CliPluginTest::writeJpeg(path(QStringLiteral("c.png")), 16, 16));
    QVERIFY(CliPluginTest::touch(path(QStringLiteral("d.xmp"))));
    QVERIFY(CliPluginTest::touch(path(QStringLiteral("e.XMP"))));
    QVERIFY(CliPluginTest::touch(path(QStringLiteral("notes.txt"))));
}

void tst_CliPluginLaunch::argumentSorting_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("invalid");
    // "<detected>" stands for what the parent process gives without any option.
    QTest::addColumn<QString>("editor");

    const QString detected = QStringLiteral("<detected>");
    QTest::newRow("first element never examined")
        << QStringList{"%T/a.jpg"} << QStringList{} << QStringList{} << QString();
    QTest::newRow("files in order")
        << QStringList{"prog", "%T/c.png", "%T/a.jpg"} << QStringList{"%T/c.png", "%T/a.jpg"}
        << QStringList{} << detected;
    QTest::newRow("double-quoted editor")
        << QStringList{"prog", "--editor=\"Capture One\"", "%T/a.jpg"} << QStringList{"%T/a.jpg"}
        << QStringList{} << QStringLiteral("Capture One");
    QTest::newRow("single-quoted editor")
        << QStringList{"prog", "%T/a.jpg", "--editor='Apple Photos'"} << QStringList{"%T/a.jpg"}
        << QStringList{} << QStringLiteral("Apple Photos");
    QTest::newRow("unquoted editor")
        << QStringList{"prog", "--editor=Photo Lab", "%T/a.jpg"} << QStringList{"%T/a.jpg"}
        << QStringList{} << QStringLiteral("Photo Lab");
    QTest::newRow("empty editor value leaves detection")
        << QStringList{"prog", "--editor=", "%T/a.jpg"} << QStringList{"%T/a.jpg"}
        << QStringList{} << detected;
    QTest::newRow("bare option is its own value")
        << QStringList{"prog", "--editor", "%T/a.jpg"} << QStringList{"%T/a.jpg"}
        << QStringList{} << QStringLiteral("--editor");
    QTest::newRow("option without equals sign is kept whole")
        << QStringList{"prog", "--editorX", "%T/a.jpg"} << QStringList{"%T/a.jpg"}
        << QStringList{} << QStringLiteral("--editorX");
    QTest::newRow("capitalised option is a rejected file")
        << QStringList{"prog", "--Editor=Capture One", "%T/a.jpg"} << QStringList{"%T/a.jpg"}
        << QStringList{"--Editor=Capture One"} << detected;
    QTest::newRow("later option wins")
        << QStringList{"prog", "--editor=One", "--editor=Two", "%T/a.jpg"} << QStringList{"%T/a.jpg"}
        << QStringList{} << QStringLiteral("Two");
    QTest::newRow("same file twice, native separators, capital extension")
        << QStringList{"prog", "%T/b.JPG", "native:b.JPG"} << QStringList{"%T/b.JPG"}
        << QStringList{} << detected;
    QTest::newRow("sidecars and missing files dropped silently, text rejected")
        << QStringList{"prog", "%T/d.xmp", "%T/e.XMP", "%T/missing.jpg", "%T/notes.txt", "%T/c.png"}
        << QStringList{"%T/c.png"} << QStringList{"%T/notes.txt"} << detected;
    QTest::newRow("rejects keep their repeats")
        << QStringList{"prog", "%T/notes.txt", "--verbose", "%T/notes.txt"} << QStringList{}
        << QStringList{"%T/notes.txt", "--verbose", "%T/notes.txt"} << QString();
    QTest::newRow("missing file only: no editor")
        << QStringList{"prog", "--editor=Capture One", "%T/missing.png"} << QStringList{}
        << QStringList{} << QString();
}

void tst_CliPluginLaunch::argumentSorting()
{
    QFETCH(QStringList, args);
    QFETCH(QStringList, files);
    QFETCH(QStringList, invalid);
    QFETCH(QString, editor);
    if (editor == QLatin1String("<detected>"))
        editor = detectedEditor();

    CLIPluginData backEnd(expand(args));
    QCOMPARE(backEnd.getDataForMerging(), expand(files).join(QStringLiteral("::")));
    QCOMPARE(backEnd.getPluginDisplayName(), editor);
    QCOMPARE(backEnd.getMergableInstanceKey(), editor);
    QCOMPARE(backEnd.isPluginMode(), !editor.isEmpty());

    QSignalSpy added(&backEnd, &PluginData::imagesAdded);
    QSignalSpy rejected(&backEnd, &PluginData::invalidImages);
    backEnd.start();
    if (files.isEmpty()) {
        QCOMPARE(added.count(), 0);
    } else {
        QCOMPARE(added.count(), 1);
        QCOMPARE(added.at(0).at(0).toStringList(), expand(files));
        QCOMPARE(added.at(0).at(1).toBool(), false);
    }
    if (invalid.isEmpty()) {
        QCOMPARE(rejected.count(), 0);
    } else {
        QCOMPARE(rejected.count(), 1);
        QCOMPARE(rejected.at(0).at(0).toStringList(), expand(invalid));
    }
    QVERIFY(backEnd.getDataForMerging().isEmpty());
}

void tst_CliPluginLaunch::announcementOrder()
{
    CLIPluginData backEnd({QStringLiteral("prog"), path(QStringLiteral("notes.txt")),
                           path(QStringLiteral("a.jpg")), QStringLiteral("--editor=Capture One")});
    QStringList order;
    connect(&backEnd, &PluginData::invalidImages, this, [&order] { order << QStringLiteral("invalid"); });
    connect(&backEnd, &PluginData::imagesAdded, this, [&order] { order << QStringLiteral("added"); });
    connect(&backEnd, &PluginData::trackEvent, this, [&order] { order << QStringLiteral("event"); });

    QVERIFY(order.isEmpty());
    backEnd.start();
    QCOMPARE(order, (QStringList{"invalid", "added", "event"}));

    // Nothing is left to announce a second time.
    backEnd.start();
    QCOMPARE(order.size(), 3);
}

void tst_CliPluginLaunch::startWithNothingEmitsNothing()
{
    CLIPluginData backEnd({QStringLiteral("prog")});
    QSignalSpy added(&backEnd, &PluginData::imagesAdded);
    QSignalSpy rejected(&backEnd, &PluginData::invalidImages);
    QSignalSpy events(&backEnd, &PluginData::trackEvent);
    MessageCapture log;
    backEnd.start();
    QCOMPARE(added.count() + rejected.count() + events.count(), 0);
    QVERIFY(log.contains(QStringLiteral("Starting with files QList()")));
    QVERIFY(!backEnd.isPluginMode());
}

void tst_CliPluginLaunch::infoEventOnceWithFourParameters()
{
    CLIPluginData backEnd({QStringLiteral("prog"), QStringLiteral("--editor=Capture One"),
                           path(QStringLiteral("a.jpg")), path(QStringLiteral("c.png"))});
    QSignalSpy events(&backEnd, &PluginData::trackEvent);
    backEnd.start();
    QCOMPARE(events.count(), 1);
    QCOMPARE(events.at(0).at(0).toString(), QStringLiteral("CLI Plugin Info"));
    const QVariantMap params = events.at(0).at(1).toMap();
    QCOMPARE(params.keys(), (QStringList{"externalEditor", "fileCount", "os", "processName"}));
    QCOMPARE(params.value("externalEditor").toString(), QStringLiteral("Capture One"));
    QCOMPARE(params.value("fileCount").typeId(), QMetaType::Int);
    QCOMPARE(params.value("fileCount").toInt(), 2);
    QCOMPARE(params.value("os").toString(), QStringLiteral("Windows"));
    // A forced editor leaves the parent process unexamined.
    QCOMPARE(params.value("processName").toString(), QString());

    backEnd.mergeInstance(path(QStringLiteral("b.JPG")));
    QCOMPARE(events.count(), 1);
}

void tst_CliPluginLaunch::forcedEditorWithoutFilesIsNotPluginMode()
{
    MessageCapture log;
    CLIPluginData backEnd({QStringLiteral("prog"), QStringLiteral("--editor=\"Capture One\"")});
    const int set = log.indexOf(QStringLiteral("Set external editor from CLI argument: \"Capture One\""));
    const int forced = log.indexOf(QStringLiteral("External editor forced to \"Capture One\""));
    const int none = log.indexOf(QStringLiteral("No valid files passed, not running as external editor mode."));
    QVERIFY(set >= 0);
    QVERIFY(forced > set);
    QVERIFY(none > forced);
    QVERIFY(!backEnd.isPluginMode());
    QVERIFY(backEnd.getPluginDisplayName().isEmpty());
    QVERIFY(log.contains(QStringLiteral("Processing argument \"--editor=\\\"Capture One\\\"\"")));
}

void tst_CliPluginLaunch::fixedAnswers()
{
    CLIPluginData backEnd({QStringLiteral("prog")});
    QVERIFY(backEnd.isResizingSupported());
    QVERIFY(!backEnd.isSilent());
    QVERIFY(backEnd.canMergeInstance());
    QVERIFY(!backEnd.isLoading());
    QVERIFY(backEnd.loadingError().isEmpty());
    QVERIFY(backEnd.loadingStatus().isEmpty());
    const QVariantMap settings = backEnd.loadSettings(QStringLiteral("any"));
    QCOMPARE(settings.size(), 1);
    QCOMPARE(settings.value("version").typeId(), QMetaType::Int);
    QCOMPARE(settings.value("version").toInt(), 0);
    backEnd.saveSettings(QStringLiteral("any"), {{QStringLiteral("version"), 3}});
    QCOMPARE(backEnd.loadSettings(QStringLiteral("any")), settings);
    QCOMPARE(CLIPluginData::knownNonEditors(),
             (QStringList{"cmd", "explorer", "OpenWith", "chrome", "rundll32", "dllhost"}));
    QCOMPARE(backEnd.metaObject()->method(backEnd.metaObject()->methodOffset()).name(),
             QByteArray("startLoadImage"));
}

void tst_CliPluginLaunch::imageSizeFromHeader()
{
    CLIPluginData backEnd({QStringLiteral("prog")});
    QCOMPARE(backEnd.imageSize(path(QStringLiteral("a.jpg"))), QSize(32, 24));
    QVERIFY(backEnd.imageSize(path(QStringLiteral("missing.jpg"))).isEmpty());
}

void tst_CliPluginLaunch::destructorStopsReaderThread()
{
    MessageCapture log;
    auto *backEnd = new CLIPluginData({QStringLiteral("prog")});
    delete backEnd;
    const int stopping = log.indexOf(QStringLiteral("Stopping CLIPluginData thread"));
    QVERIFY(stopping >= 0);
    QVERIFY(log.indexOf(QStringLiteral("CLIPluginData thread stopped")) > stopping);
    QVERIFY(!log.contains(QStringLiteral("CLIPluginData thread timed out")));
}

QTEST_GUILESS_MAIN(tst_CliPluginLaunch)
#include "tst_cliplugin_launch.moc"
