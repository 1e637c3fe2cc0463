#include "CLIPluginData.h"
#include "TestHelpers.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// The files of a launch and of a merged second launch: which are accepted, which rejected, and
// how they are announced to the user interface, with the usage event.
class tst_CliPluginLaunch : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void launch_data();
    void launch();
    void merge_data();
    void merge();
    void announcementOrderAndInfoEvent();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QStringList expand(QStringList list) const;

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
    // Desktop entries of this machine must not name the parent: only an empty folder is searched.
    qputenv("XDG_DATA_HOME", QFile::encodeName(path(QStringLiteral("xdg"))));
    qputenv("XDG_DATA_DIRS", QFile::encodeName(path(QStringLiteral("xdg"))));
    for (const char *name : {"a.jpg", "b.JPG", "c.png", "2.tif"})
        QVERIFY(TestHelpers::writeRgbImage(path(QLatin1String(name)), TestHelpers::makePattern(8, 8, CV_8U, 3)));
    for (const char *name : {"d.xmp", "e.XMP", "notes.txt"})
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
    QTest::newRow("first element never examined") << QStringList{"%T/a.jpg"} << QStringList{} << QStringList{} << "";
    QTest::newRow("files in order") << QStringList{"prog", "%T/c.png", "%T/a.jpg"}
                                    << QStringList{"%T/c.png", "%T/a.jpg"} << QStringList{} << detected;
    QTest::newRow("forced editor") << QStringList{"prog", "--editor='Capture One'", "%T/a.jpg"}
                                   << QStringList{"%T/a.jpg"} << QStringList{} << "Capture One";
    QTest::newRow("empty editor value leaves detection") << QStringList{"prog", "--editor=", "%T/a.jpg"}
                                                         << QStringList{"%T/a.jpg"} << QStringList{} << detected;
    QTest::newRow("same file twice, native separators, capital extension")
        << QStringList{"prog", "%T/b.JPG", "native:b.JPG"} << QStringList{"%T/b.JPG"} << QStringList{} << detected;
    QTest::newRow("sidecars and missing files dropped silently, text rejected")
        << QStringList{"prog", "%T/d.xmp", "%T/e.XMP", "%T/missing.jpg", "%T/notes.txt", "%T/c.png"}
        << QStringList{"%T/c.png"} << QStringList{"%T/notes.txt"} << detected;
    QTest::newRow("rejects keep their repeats; no file, no editor")
        << QStringList{"prog", "%T/notes.txt", "--Editor=X", "%T/notes.txt"} << QStringList{}
        << QStringList{"%T/notes.txt", "--Editor=X", "%T/notes.txt"} << "";
    QTest::newRow("forced editor without files is none") << QStringList{"prog", "--editor=Capture One", "%T/missing.png"}
                                                         << QStringList{} << QStringList{} << "";
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
    QCOMPARE(backEnd.isPluginMode(), !editor.isEmpty());

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
    QTest::newRow("empty") << true << "" << QStringList{} << QStringList{};
    QTest::newRow("doubled separator") << true << "%T/c.png::::%T/2.tif" << QStringList{"%T/c.png", "%T/2.tif"}
                                       << QStringList{};
    QTest::newRow("separators at both ends") << true << "::%T/c.png::" << QStringList{"%T/c.png"} << QStringList{};
    QTest::newRow("announced file announced again") << true << "%T/a.jpg" << QStringList{"%T/a.jpg"} << QStringList{};
    QTest::newRow("sidecar and missing dropped, unsupported reported")
        << true << "%T/d.xmp::%T/none.jpg::%T/notes.txt::%T/2.tif" << QStringList{"%T/2.tif"}
        << QStringList{"%T/notes.txt"};
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

void tst_CliPluginLaunch::announcementOrderAndInfoEvent()
{
    CLIPluginData backEnd({QStringLiteral("prog"), path(QStringLiteral("notes.txt")), path(QStringLiteral("a.jpg")),
                           QStringLiteral("--editor=Capture One"), path(QStringLiteral("c.png"))});
    QVERIFY(backEnd.getDataForMerging().contains(QStringLiteral("::")));
    QStringList order;
    QVariantMap params;
    connect(&backEnd, &PluginData::invalidImages, this, [&order] { order << QStringLiteral("invalid"); });
    connect(&backEnd, &PluginData::imagesAdded, this, [&order] { order << QStringLiteral("added"); });
    connect(&backEnd, &PluginData::trackEvent, this, [&](const QString &id, const QVariantMap &p) {
        order << id;
        params = p;
    });
    backEnd.start();
    backEnd.start();
    backEnd.mergeInstance(path(QStringLiteral("b.JPG")));
    QCOMPARE(order, (QStringList{"invalid", "added", "CLI Plugin Info", "added"}));
    // A forced editor leaves the parent process unexamined, so there is no process name.
    const QVariantMap expected{{"processName", QString()}, {"externalEditor", QStringLiteral("Capture One")},
                               {"fileCount", 2}, {"os", QStringLiteral("Windows")}};
    QCOMPARE(params, expected);
    QCOMPARE(params.value("fileCount").typeId(), QMetaType::Int);
}

QTEST_GUILESS_MAIN(tst_CliPluginLaunch)
#include "tst_cliplugin_launch.moc"
