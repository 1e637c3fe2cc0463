#include "LaunchArguments.h"

#include <QTest>

// The sorting of a launch's command line into the editor option and candidate files.
class tst_LaunchArguments : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void parse_data();
    void parse();
};

void tst_LaunchArguments::parse_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("editor");
    QTest::addColumn<QStringList>("candidates");

    QTest::newRow("first element never examined") << QStringList{"--editor=X"} << "" << QStringList{};
    QTest::newRow("files in order") << QStringList{"prog", "b.png", "a.jpg"} << "" << QStringList{"b.png", "a.jpg"};
    QTest::newRow("double quotes") << QStringList{"prog", "--editor=\"Capture One\"", "a.jpg"} << "Capture One"
                                   << QStringList{"a.jpg"};
    QTest::newRow("single quotes") << QStringList{"prog", "--editor='Apple Photos'"} << "Apple Photos" << QStringList{};
    QTest::newRow("unquoted") << QStringList{"prog", "--editor=Photo Lab"} << "Photo Lab" << QStringList{};
    QTest::newRow("one quote each end only") << QStringList{"prog", "--editor=\"'x'\""} << "'x'" << QStringList{};
    QTest::newRow("lone quote") << QStringList{"prog", "--editor=\""} << "" << QStringList{};
    QTest::newRow("empty value") << QStringList{"prog", "--editor="} << "" << QStringList{};
    QTest::newRow("bare option is its own value") << QStringList{"prog", "--editor"} << "--editor" << QStringList{};
    QTest::newRow("no equals sign: kept whole") << QStringList{"prog", "--editorX"} << "--editorX" << QStringList{};
    QTest::newRow("capitalised option is a file") << QStringList{"prog", "--Editor=C1"} << ""
                                                  << QStringList{"--Editor=C1"};
    QTest::newRow("later option wins") << QStringList{"prog", "--editor=One", "x", "--editor=Two"} << "Two"
                                       << QStringList{"x"};
}

void tst_LaunchArguments::parse()
{
    QFETCH(QStringList, arguments);
    const LaunchArguments launch = LaunchArguments::parse(arguments);
    QTEST(launch.editor, "editor");
    QTEST(launch.candidates, "candidates");
}

QTEST_GUILESS_MAIN(tst_LaunchArguments)
#include "tst_launcharguments.moc"
