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
        QTest::addColumn<bool>("headless");
        QTest::addColumn<bool>("verbose");
        QTest::addColumn<bool>("help");
        QTest::addColumn<bool>("autoRun");
        QTest::addColumn<int>("operation");
        QTest::addColumn<bool>("hasError");

        const QString program = QStringLiteral("/usr/bin/lumivex");
        QTest::newRow("files only") << QStringList{program, "a.jpg", "b.tif"} << QStringList{program, "a.jpg", "b.tif"}
                                    << false << false << false << false << int(ImageOperation::Identity) << false;
        QTest::newRow("all ours") << QStringList{program, "--headless", "--verbose", "--auto=enhance", "a.jpg"}
                                  << QStringList{program, "a.jpg"} << true << true << false << true
                                  << int(ImageOperation::Enhance) << false;
        QTest::newRow("editor passes through") << QStringList{program, "--editor=\"Capture One\"", "--auto=identity", "x.png"}
                                               << QStringList{program, "--editor=\"Capture One\"", "x.png"} << false << false
                                               << false << true << int(ImageOperation::Identity) << false;
        QTest::newRow("filter marker kept first") << QStringList{"Orvane_Lumivex_PS_Plugin", "--auto=enhance"}
                                                  << QStringList{"Orvane_Lumivex_PS_Plugin"} << false << false << false
                                                  << true << int(ImageOperation::Enhance) << false;
        QTest::newRow("first element never an option") << QStringList{"--help", "a.jpg"} << QStringList{"--help", "a.jpg"}
                                                       << false << false << false << false << int(ImageOperation::Identity) << false;
        QTest::newRow("short help") << QStringList{program, "-h"} << QStringList{program} << false << false << true
                                    << false << int(ImageOperation::Identity) << false;
        QTest::newRow("unknown operation") << QStringList{program, "--auto=sharpen"} << QStringList{program} << false
                                           << false << false << true << int(ImageOperation::Identity) << true;
        QTest::newRow("look-alikes are files") << QStringList{program, "--Headless", "--auto", "--verbose=1"}
                                               << QStringList{program, "--Headless", "--auto", "--verbose=1"} << false
                                               << false << false << false << int(ImageOperation::Identity) << false;
    }

    void parse()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, remaining);
        const LaunchOptions options = LaunchOptions::parse(arguments);
        QCOMPARE(options.remaining, remaining);
        QTEST(options.headless, "headless");
        QTEST(options.verbose, "verbose");
        QTEST(options.help, "help");
        QTEST(options.autoRun, "autoRun");
        QTEST(int(options.operation), "operation");
        QTEST(!options.error.isEmpty(), "hasError");
    }

    void usageNamesEveryOption()
    {
        const QString usage = LaunchOptions::usage();
        for (const char *option : {"--auto=identity|enhance", "--headless", "--verbose", "--help", "--editor"})
            QVERIFY2(usage.contains(QLatin1String(option)), option);
    }
};

QTEST_GUILESS_MAIN(tst_LaunchOptions)
#include "tst_launchoptions.moc"
