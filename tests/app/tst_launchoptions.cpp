#include "LaunchOptions.h"

#include <QTemporaryDir>
#include <QtTest>

// lumivex takes its own options out of the command line; everything else reaches the library in
// the original order, first element included.
class tst_LaunchOptions : public QObject
{
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("remaining");
        QTest::addColumn<QString>("flags"); // the options that are set, of: headless verbose help auto error
        QTest::addColumn<int>("operation");

        const QString program = QStringLiteral("/usr/bin/lumivex");
        const int identity = ImageOperation::Identity;
        QTest::newRow("files only") << QStringList{program, "a.jpg", "b.tif"} << QStringList{program, "a.jpg", "b.tif"} << ""
                                    << identity;
        QTest::newRow("all ours") << QStringList{program, "--headless", "--verbose", "--auto=enhance", "a.jpg"}
                                  << QStringList{program, "a.jpg"} << "headless verbose auto" << int(ImageOperation::Enhance);
        QTest::newRow("editor passes through") << QStringList{program, "--editor=\"Capture One\"", "--auto=identity", "x.png"}
                                               << QStringList{program, "--editor=\"Capture One\"", "x.png"} << "auto" << identity;
        QTest::newRow("filter marker kept first") << QStringList{"Orvane_Lumivex_PS_Plugin", "--auto=enhance"}
                                                  << QStringList{"Orvane_Lumivex_PS_Plugin"} << "auto" << int(ImageOperation::Enhance);
        QTest::newRow("first element never an option") << QStringList{"--help", "a.jpg"} << QStringList{"--help", "a.jpg"} << ""
                                                       << identity;
        QTest::newRow("short help") << QStringList{program, "-h"} << QStringList{program} << "help" << identity;
        QTest::newRow("unknown operation") << QStringList{program, "--auto=sharpen"} << QStringList{program} << "auto error"
                                           << identity;
        QTest::newRow("look-alikes are files") << QStringList{program, "--Headless", "--auto", "--verbose=1"}
                                               << QStringList{program, "--Headless", "--auto", "--verbose=1"} << "" << identity;
    }

    void parse()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, flags);
        const LaunchOptions options = LaunchOptions::parse(arguments);
        QTEST(options.remaining, "remaining");
        QTEST(int(options.operation), "operation");
        QStringList set;
        const std::pair<bool, const char *> all[] = {{options.headless, "headless"}, {options.verbose, "verbose"},
                                                     {options.help, "help"}, {options.autoRun, "auto"},
                                                     {!options.error.isEmpty(), "error"}};
        for (const auto &[on, name] : all)
            if (on)
                set << QLatin1String(name);
        QCOMPARE(set.join(QLatin1Char(' ')), flags);
    }

    // Seconds, fractions allowed; a value that is no positive number stops the launch.
    void handOffTimeout_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<int>("milliseconds"); // -1: an error
        QTest::newRow("default") << "" << 30000;
        QTest::newRow("seconds") << "--handoff-timeout=2" << 2000;
        QTest::newRow("a fraction") << "--handoff-timeout=0.25" << 250;
        QTest::newRow("zero") << "--handoff-timeout=0" << -1;
        QTest::newRow("no number") << "--handoff-timeout=soon" << -1;
    }

    void handOffTimeout()
    {
        QFETCH(QString, argument);
        QFETCH(int, milliseconds);
        QStringList arguments{QStringLiteral("lumivex"), QStringLiteral("a.jpg")};
        if (!argument.isEmpty())
            arguments << argument;
        const LaunchOptions options = LaunchOptions::parse(arguments);
        QCOMPARE(options.remaining, (QStringList{"lumivex", "a.jpg"}));
        QCOMPARE(options.error.isEmpty(), milliseconds >= 0);
        if (milliseconds >= 0)
            QCOMPARE(options.handOffTimeoutMs, milliseconds);
    }

    // The running instance is handed absolute, clean paths; a ".." behind a symbolic link keeps
    // the meaning the kernel gives it. "%C" stands for the current folder.
    void libraryArguments_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("handed");
        QTest::newRow("dot") << "./a.jpg" << "%C/a.jpg";
        QTest::newRow("dot-dot") << "sub/../a.jpg" << "%C/a.jpg";
        QTest::newRow("doubled slash") << "sub//b.jpg" << "%C/sub/b.jpg";
        QTest::newRow("absolute") << "%C/sub/./b.jpg" << "%C/sub/b.jpg";
        QTest::newRow("dot-dot behind a link") << "link/../a.jpg" << "%C/link/../a.jpg";
        QTest::newRow("editor untouched") << "--editor=./x" << "--editor=./x";
    }

    void libraryArguments()
    {
        QFETCH(QString, argument);
        QFETCH(QString, handed);
#ifdef Q_OS_WIN
        if (argument.startsWith(QLatin1String("link/")))
            QSKIP("QFile::link makes a shortcut on Windows, not a symbolic link");
#endif
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString here = QFileInfo(dir.path()).canonicalFilePath();
        // link points two levels down, so link/.. is deep/, which has an a.jpg of its own.
        QVERIFY(QDir(here).mkpath(QStringLiteral("sub")) && QDir(here).mkpath(QStringLiteral("deep/inner")));
        for (const char *file : {"a.jpg", "sub/b.jpg", "deep/a.jpg"}) {
            QFile touch(QDir(here).filePath(QLatin1String(file)));
            QVERIFY(touch.open(QIODevice::WriteOnly));
        }
        QVERIFY(QFile::link(QDir(here).filePath(QStringLiteral("deep/inner")), QDir(here).filePath(QStringLiteral("link"))));
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(here));
        const LaunchOptions options =
            LaunchOptions::parse({QStringLiteral("./lumivex"), argument.replace(QLatin1String("%C"), here)});
        const QStringList arguments = options.libraryArguments();
        QDir::setCurrent(previous);
        QCOMPARE(arguments, (QStringList{"./lumivex", handed.replace(QLatin1String("%C"), here)}));
    }

    // The usage is what a person reads to find the options.
    void usageNamesEveryOption()
    {
        for (const char *option : {"--auto=identity|enhance", "--headless", "--verbose", "--help", "--editor",
                                   "--handoff-timeout=SECONDS"})
            QVERIFY2(LaunchOptions::usage().contains(QLatin1String(option)), option);
    }
};

QTEST_GUILESS_MAIN(tst_LaunchOptions)
#include "tst_launchoptions.moc"
