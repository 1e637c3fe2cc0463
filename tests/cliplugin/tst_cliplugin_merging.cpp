#include "CLIPluginData.h"
#include "CliPluginTestSupport.h"

#include <QDir>
#include <QMetaObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// A second launch hands its pending files to the running instance: the data of one back end is
// merged into another that runs on its own worker thread.
class tst_CliPluginMerging : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void roundTrip();
    void mergeData_data();
    void mergeData();
    void pendingFileNotAddedTwice();
    void announcedFileAnnouncedAgain();
    void mergeBeforeStartWaitsForStart();

private:
    QString path(const QString &name) const { return m_dir.path() + QLatin1Char('/') + name; }
    void merge(PluginData *backEnd, const QString &data);

    QTemporaryDir m_dir;
};

void tst_CliPluginMerging::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(CliPluginTest::writeJpeg(path(QStringLiteral("1.jpg")), 8, 8));
    QVERIFY(CliPluginTest::writeJpeg(path(QStringLiteral("2.tif")), 8, 8));
    QVERIFY(CliPluginTest::writeJpeg(path(QStringLiteral("3.png")), 8, 8));
    QVERIFY(CliPluginTest::writeJpeg(path(QStringLiteral("marker.jpg")), 8, 8));
    QVERIFY(CliPluginTest::touch(path(QStringLiteral("1.xmp"))));
    QVERIFY(CliPluginTest::touch(path(QStringLiteral("doc.pdf"))));
}

// As the facade does: a queued call, run on the back end's worker thread.
void tst_CliPluginMerging::merge(PluginData *backEnd, const QString &data)
{
    QVERIFY(QMetaObject::invokeMethod(backEnd, "mergeInstance", Qt::QueuedConnection, Q_ARG(QString, data)));
}

void tst_CliPluginMerging::roundTrip()
{
    CLIPluginData second({QStringLiteral("prog"), QStringLiteral("--editor=Capture One"),
                          path(QStringLiteral("1.jpg")), path(QStringLiteral("2.tif"))});
    const QString data = second.getDataForMerging();
    QCOMPARE(data, path(QStringLiteral("1.jpg")) + QStringLiteral("::") + path(QStringLiteral("2.tif")));
    QCOMPARE(second.getDataForMerging(), data);
    QVERIFY(second.canMergeInstance());

    BackEndThread running(new CLIPluginData({QStringLiteral("prog"), QStringLiteral("--editor=Capture One"),
                                             path(QStringLiteral("3.png"))}));
    PluginDataRelay relay(running.backEnd());
    QSignalSpy added(&relay, &PluginDataRelay::imagesAdded);
    QSignalSpy events(&relay, &PluginDataRelay::trackEvent);
    running.backEnd()->start();
    QTRY_COMPARE(added.count(), 1);
    QTRY_COMPARE(events.count(), 1);
    QCOMPARE(running.backEnd()->getMergableInstanceKey(), second.getMergableInstanceKey());

    MessageCapture log;
    merge(running.backEnd(), data);
    QTRY_COMPARE(added.count(), 2);
    QCOMPARE(added.at(1).at(0).toStringList(), (QStringList{path("1.jpg"), path("2.tif")}));
    QCOMPARE(added.at(1).at(1).toBool(), true);
    QVERIFY(log.contains(QStringLiteral("Loading images from merged instance QList(\"%1\", \"%2\")")
                             .arg(path("1.jpg"), path("2.tif"))));
    // The usage event went out with the first announcement and never again.
    QCoreApplication::processEvents();
    QCOMPARE(events.count(), 1);
    QCOMPARE(events.at(0).at(1).toMap().value("fileCount").toInt(), 1);
}

void tst_CliPluginMerging::mergeData_data()
{
    QTest::addColumn<QString>("data");
    QTest::addColumn<QStringList>("added");
    QTest::addColumn<QStringList>("invalid");

    QTest::newRow("empty") << "" << QStringList{} << QStringList{};
    QTest::newRow("one") << "%T/1.jpg" << QStringList{"%T/1.jpg"} << QStringList{};
    QTest::newRow("doubled separator") << "%T/1.jpg::::%T/2.tif" << QStringList{"%T/1.jpg", "%T/2.tif"}
                                       << QStringList{};
    QTest::newRow("separators at both ends") << "::%T/3.png::" << QStringList{"%T/3.png"} << QStringList{};
    QTest::newRow("unsupported format reported") << "%T/doc.pdf::%T/1.jpg" << QStringList{"%T/1.jpg"}
                                                 << QStringList{"%T/doc.pdf"};
    QTest::newRow("sidecar and missing file dropped") << "%T/1.xmp::%T/none.jpg::%T/2.tif"
                                                      << QStringList{"%T/2.tif"} << QStringList{};
    QTest::newRow("separator inside a path splits it") << "%T/1.jpg::x::%T/2.tif"
                                                       << QStringList{"%T/1.jpg", "%T/2.tif"} << QStringList{"x"};
}

void tst_CliPluginMerging::mergeData()
{
    QFETCH(QString, data);
    QFETCH(QStringList, added);
    QFETCH(QStringList, invalid);
    const QString root = m_dir.path() + QLatin1Char('/');
    data.replace(QStringLiteral("%T/"), root);
    added.replaceInStrings(QStringLiteral("%T/"), root);
    invalid.replaceInStrings(QStringLiteral("%T/"), root);

    BackEndThread running(new CLIPluginData({QStringLiteral("prog")}));
    PluginDataRelay relay(running.backEnd());
    QSignalSpy addedSpy(&relay, &PluginDataRelay::imagesAdded);
    QSignalSpy invalidSpy(&relay, &PluginDataRelay::invalidImages);
    QStringList order;
    connect(&relay, &PluginDataRelay::invalidImages, this, [&order] { order << QStringLiteral("invalid"); });
    connect(&relay, &PluginDataRelay::imagesAdded, this, [&order] { order << QStringLiteral("added"); });
    running.backEnd()->start();

    MessageCapture log;
    merge(running.backEnd(), data);
    QTRY_VERIFY(log.contains(QStringLiteral("Loading images from merged instance")));
    // A marker merge afterwards: once it is announced, everything before it has arrived too.
    merge(running.backEnd(), path(QStringLiteral("marker.jpg")));
    QTRY_VERIFY(!addedSpy.isEmpty() && addedSpy.last().at(0).toStringList() == QStringList{path("marker.jpg")});

    const int expectedAdded = added.isEmpty() ? 1 : 2;
    QCOMPARE(addedSpy.count(), expectedAdded);
    if (!added.isEmpty()) {
        QCOMPARE(addedSpy.at(0).at(0).toStringList(), added);
        QCOMPARE(addedSpy.at(0).at(1).toBool(), true);
    }
    QCOMPARE(invalidSpy.count(), invalid.isEmpty() ? 0 : 1);
    if (!invalid.isEmpty()) {
        QCOMPARE(invalidSpy.at(0).at(0).toStringList(), invalid);
        QCOMPARE(order.first(), QStringLiteral("invalid"));
    }
}

void tst_CliPluginMerging::pendingFileNotAddedTwice()
{
    CLIPluginData backEnd({QStringLiteral("prog"), path(QStringLiteral("1.jpg"))});
    backEnd.mergeInstance(path(QStringLiteral("1.jpg")) + QStringLiteral("::") + path(QStringLiteral("2.tif")));
    QCOMPARE(backEnd.getDataForMerging(), path("1.jpg") + QStringLiteral("::") + path("2.tif"));
}

void tst_CliPluginMerging::announcedFileAnnouncedAgain()
{
    BackEndThread running(new CLIPluginData({QStringLiteral("prog"), path(QStringLiteral("1.jpg"))}));
    PluginDataRelay relay(running.backEnd());
    QSignalSpy added(&relay, &PluginDataRelay::imagesAdded);
    running.backEnd()->start();
    QTRY_COMPARE(added.count(), 1);
    merge(running.backEnd(), path(QStringLiteral("1.jpg")));
    QTRY_COMPARE(added.count(), 2);
    QCOMPARE(added.at(1).at(0).toStringList(), QStringList{path("1.jpg")});
    QCOMPARE(added.at(1).at(1).toBool(), true);
}

void tst_CliPluginMerging::mergeBeforeStartWaitsForStart()
{
    BackEndThread running(new CLIPluginData({QStringLiteral("prog")}));
    PluginDataRelay relay(running.backEnd());
    QSignalSpy added(&relay, &PluginDataRelay::imagesAdded);
    MessageCapture log;
    merge(running.backEnd(), path(QStringLiteral("2.tif")));
    QTRY_VERIFY(log.contains(QStringLiteral("Loading images from merged instance")));
    QCoreApplication::processEvents();
    QCOMPARE(added.count(), 0);
    QCOMPARE(running.backEnd()->getDataForMerging(), path(QStringLiteral("2.tif")));

    running.backEnd()->start();
    QTRY_COMPARE(added.count(), 1);
    QCOMPARE(added.at(0).at(1).toBool(), false);
}

QTEST_GUILESS_MAIN(tst_CliPluginMerging)
#include "tst_cliplugin_merging.moc"
