#include "LaunchOptions.h"

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

    // The usage is what a person reads to find the options.
    void usageNamesEveryOption()
    {
        for (const char *option : {"--auto=identity|enhance", "--headless", "--verbose", "--help", "--editor"})
            QVERIFY2(LaunchOptions::usage().contains(QLatin1String(option)), option);
    }
};

QTEST_GUILESS_MAIN(tst_LaunchOptions)
#include "tst_launchoptions.moc"
