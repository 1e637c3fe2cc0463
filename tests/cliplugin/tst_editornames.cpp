#include "EditorNames.h"

#include <QTest>

// The editor named by the launching executable's base name.
class tst_EditorNames : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void match_data();
    void match();
};

void tst_EditorNames::match_data()
{
    QTest::addColumn<QString>("processName");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("name");

    const int none = int(EditorNames::Kind::NotAnEditor);
    const int known = int(EditorNames::Kind::Known);
    const int described = int(EditorNames::Kind::ByDescription);
    for (const char *launcher : {"cmd", "explorer", "OpenWith", "chrome", "rundll32", "dllhost"})
        QTest::newRow(launcher) << launcher << none << "";
    QTest::newRow("EXPLORER in capitals") << "EXPLORER" << none << "";
    QTest::newRow("openwith in lower case") << "openwith" << none << "";
    QTest::newRow("explorer2: whole name only") << "explorer2" << described << "External Editor";
    QTest::newRow("Lightroom") << "Lightroom" << known << "Adobe Lightroom Classic";
    QTest::newRow("lightroom inside, any case") << "myLIGHTROOMhelper" << known << "Adobe Lightroom Classic";
    QTest::newRow("Capture One host") << "P1.C1.PluginHostProcess" << known << "Capture One";
    QTest::newRow("Capture One host, lower case") << "p1.c1.pluginhostprocess" << known << "Capture One";
    QTest::newRow("other program") << "Photoshop" << described << "External Editor";
}

void tst_EditorNames::match()
{
    QFETCH(QString, processName);
    const EditorNames::Match match = EditorNames::match(processName);
    QTEST(int(match.kind), "kind");
    QTEST(match.name, "name");
}

QTEST_GUILESS_MAIN(tst_EditorNames)
#include "tst_editornames.moc"
