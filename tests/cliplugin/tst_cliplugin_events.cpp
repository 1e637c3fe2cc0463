#include "CLIPluginData.h"
#include "CliPluginTestSupport.h"
#include "TestHelpers.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QDropEvent>
#include <QFileOpenEvent>
#include <QImage>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

// Files and instructions that reach the running application as events: delivered through a real
// QApplication to a back end that runs on its own worker thread, as under the facade.
class tst_CliPluginEvents : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void fileOpenStandalone_data();
    void fileOpenStandalone();
    void fileOpenBeforeStartWaits();
    void editorUrl_data();
    void editorUrl();
    void editorUrlAfterFilesSendsInfoOnce();
    void dropImage();
    void dropUrlsAndFolder();
    void dropIgnoredWhileEditor();

private:
    QString path(const QString &name) const { return m_dir.path() + QLatin1Char('/') + name; }
    void startBackEnd(const QStringList &args, bool start = true);
    bool sendFileOpen(QFileOpenEvent &event);
    bool sendDrop(QMimeData *mime);
    QString detectedEditor();

    QTemporaryDir m_dir;
    std::unique_ptr<BackEndThread> m_thread;
    std::unique_ptr<PluginDataRelay> m_relay;
    std::unique_ptr<EventForwarder> m_forwarder;
    EventObserver m_observer;
};

void tst_CliPluginEvents::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("tmp")));
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("xdg")));
    CliPluginTest::useTempDir(path(QStringLiteral("tmp")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(path(QStringLiteral("xdg"))));
    qputenv("XDG_DATA_DIRS", QFile::encodeName(path(QStringLiteral("xdg"))));
    QVERIFY(CliPluginTest::writeJpeg(path(QStringLiteral("a.jpg")), 16, 16));
    QVERIFY(CliPluginTest::writeJpeg(path(QStringLiteral("with space.jpg")), 16, 16));
    QVERIFY(CliPluginTest::touch(path(QStringLiteral("notes.txt"))));
    // The observer goes first, so it sees only what the back end lets through.
    qApp->installEventFilter(&m_observer);
}

void tst_CliPluginEvents::init()
{
    m_observer.seen.clear();
}

void tst_CliPluginEvents::cleanup()
{
    if (m_forwarder)
        qApp->removeEventFilter(m_forwarder.get());
    m_forwarder.reset();
    m_relay.reset();
    m_thread.reset();
}

void tst_CliPluginEvents::startBackEnd(const QStringList &args, bool start)
{
    auto *backEnd = new CLIPluginData(args);
    m_relay = std::make_unique<PluginDataRelay>(backEnd);
    m_thread = std::make_unique<BackEndThread>(backEnd);
    m_forwarder = std::make_unique<EventForwarder>(backEnd);
    qApp->installEventFilter(m_forwarder.get());
    if (start)
        backEnd->start();
}

bool tst_CliPluginEvents::sendFileOpen(QFileOpenEvent &event)
{
    QCoreApplication::sendEvent(qApp, &event);
    return !m_observer.seen.contains(QEvent::FileOpen);
}

// Returns whether the drop went on past the back end.
bool tst_CliPluginEvents::sendDrop(QMimeData *mime)
{
    QDropEvent event(QPointF(1, 1), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(qApp, &event);
    return m_observer.seen.contains(QEvent::Drop);
}

QString tst_CliPluginEvents::detectedEditor()
{
    CLIPluginData plain({QStringLiteral("prog"), path(QStringLiteral("a.jpg"))});
    return plain.getPluginDisplayName();
}

void tst_CliPluginEvents::fileOpenStandalone_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("expectedFile");
    QTest::newRow("file path") << "path" << "a.jpg";
    QTest::newRow("local file URL") << "fileUrl" << "with space.jpg";
    QTest::newRow("percent-encoded URL without scheme") << "plainUrl" << "with space.jpg";
}

void tst_CliPluginEvents::fileOpenStandalone()
{
    QFETCH(QString, kind);
    QFETCH(QString, expectedFile);
    startBackEnd({QStringLiteral("prog")});
    QVERIFY(!m_thread->backEnd()->isPluginMode());
    QSignalSpy added(m_relay.get(), &PluginDataRelay::imagesAdded);
    QSignalSpy mode(m_relay.get(), &PluginDataRelay::isPluginModeChanged);

    const QString file = path(expectedFile);
    std::unique_ptr<QFileOpenEvent> event;
    if (kind == QLatin1String("path"))
        event = std::make_unique<QFileOpenEvent>(file);
    else if (kind == QLatin1String("fileUrl"))
        event = std::make_unique<QFileOpenEvent>(QUrl::fromLocalFile(file));
    else
        event = std::make_unique<QFileOpenEvent>(QUrl(QString::fromLatin1(QUrl::toPercentEncoding(file, "/"))));
    QVERIFY(sendFileOpen(*event));

    QTRY_COMPARE(added.count(), 1);
    QCOMPARE(added.at(0).at(0).toStringList(), QStringList{file});
    QCOMPARE(added.at(0).at(1).toBool(), false);
    // Detection runs again for a stand-alone run and reports its result.
    QCOMPARE(mode.count(), 1);
    QCOMPARE(mode.at(0).at(0).toBool(), !detectedEditor().isEmpty());
    QCOMPARE(m_thread->backEnd()->getPluginDisplayName(), detectedEditor());
}

void tst_CliPluginEvents::fileOpenBeforeStartWaits()
{
    startBackEnd({QStringLiteral("prog")}, false);
    QSignalSpy added(m_relay.get(), &PluginDataRelay::imagesAdded);
    QSignalSpy rejected(m_relay.get(), &PluginDataRelay::invalidImages);
    QFileOpenEvent first(path(QStringLiteral("a.jpg")));
    QVERIFY(sendFileOpen(first));
    QFileOpenEvent second(path(QStringLiteral("notes.txt")));
    QVERIFY(sendFileOpen(second));
    QCOMPARE(m_thread->backEnd()->getDataForMerging(), path(QStringLiteral("a.jpg")));

    m_thread->backEnd()->start();
    QTRY_COMPARE(added.count(), 1);
    QCOMPARE(added.at(0).at(0).toStringList(), QStringList{path(QStringLiteral("a.jpg"))});
    QCOMPARE(rejected.count(), 1);
    QCOMPARE(rejected.at(0).at(0).toStringList(), QStringList{path(QStringLiteral("notes.txt"))});
}

void tst_CliPluginEvents::editorUrl_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("expectedEditor"); // "<detected>": what the parent process gives
    QTest::addColumn<int>("modeChanges");

    QTest::newRow("stand-alone becomes Apple Photos") << QStringList{"prog"}
        << "orvane:///editor/Apple%20Photos" << "Apple Photos" << 1;
    QTest::newRow("single slash form") << QStringList{"prog"} << "orvane:/editor/Photo%2FLab"
        << "Photo/Lab" << 1;
    QTest::newRow("empty name examines the parent") << QStringList{"prog"} << "orvane:///editor/"
        << "<detected>" << 1;
    QTest::newRow("an editor keeps its name") << QStringList{"prog", "--editor=Capture One", "%T/a.jpg"}
        << "orvane:///editor/Apple%20Photos" << "Capture One" << 0;
    QTest::newRow("other path adds nothing") << QStringList{"prog"} << "orvane:///open/a.jpg" << "" << 0;
    QTest::newRow("case-sensitive prefix") << QStringList{"prog"} << "orvane:///Editor/Apple%20Photos"
        << "" << 0;
}

void tst_CliPluginEvents::editorUrl()
{
    QFETCH(QStringList, args);
    QFETCH(QString, url);
    QFETCH(QString, expectedEditor);
    QFETCH(int, modeChanges);
    if (expectedEditor == QLatin1String("<detected>"))
        expectedEditor = detectedEditor();
    args.replaceInStrings(QStringLiteral("%T/"), m_dir.path() + QLatin1Char('/'));

    startBackEnd(args);
    // What start announced is delivered before the spies look.
    QCoreApplication::processEvents();
    QSignalSpy mode(m_relay.get(), &PluginDataRelay::isPluginModeChanged);
    QSignalSpy added(m_relay.get(), &PluginDataRelay::imagesAdded);
    MessageCapture log;
    QFileOpenEvent event{QUrl(url)};
    QVERIFY(sendFileOpen(event));
    QVERIFY(log.contains(QStringLiteral("Received URL: QUrl(\"%1\")").arg(QUrl(url).toDisplayString())));

    QTRY_COMPARE(mode.count(), modeChanges);
    if (modeChanges)
        QCOMPARE(mode.at(0).at(0).toBool(), !expectedEditor.isEmpty());
    QCOMPARE(m_thread->backEnd()->getPluginDisplayName(), expectedEditor);
    QCOMPARE(m_thread->backEnd()->getMergableInstanceKey(), expectedEditor);
    QCoreApplication::processEvents();
    QCOMPARE(added.count(), 0);
    QVERIFY(m_thread->backEnd()->getDataForMerging().isEmpty());
}

void tst_CliPluginEvents::editorUrlAfterFilesSendsInfoOnce()
{
    // Stand-alone with a dropped file: no editor yet, so no usage event.
    startBackEnd({QStringLiteral("prog")});
    QSignalSpy events(m_relay.get(), &PluginDataRelay::trackEvent);
    QSignalSpy added(m_relay.get(), &PluginDataRelay::imagesAdded);
    QSignalSpy mode(m_relay.get(), &PluginDataRelay::isPluginModeChanged);
    auto mime = std::make_unique<QMimeData>();
    mime->setUrls({QUrl::fromLocalFile(path(QStringLiteral("a.jpg")))});
    QVERIFY(sendDrop(mime.get()));
    QTRY_COMPARE(added.count(), 1);
    QCOMPARE(events.count(), 0);
    QCOMPARE(mode.count(), 0);

    QFileOpenEvent event{QUrl(QStringLiteral("orvane:///editor/Apple%20Photos"))};
    QVERIFY(sendFileOpen(event));
    QFileOpenEvent again{QUrl(QStringLiteral("orvane:///editor/Other"))};
    QVERIFY(sendFileOpen(again));
    QTRY_COMPARE(events.count(), 1);
    QCOMPARE(events.at(0).at(0).toString(), QStringLiteral("CLI Plugin Info"));
    QCOMPARE(events.at(0).at(1).toMap().value("externalEditor").toString(), QStringLiteral("Apple Photos"));
    QCOMPARE(events.at(0).at(1).toMap().value("fileCount").toInt(), 1);
    QCOMPARE(mode.count(), 1);
    QCOMPARE(mode.at(0).at(0).toBool(), true);
    QCOMPARE(m_thread->backEnd()->getPluginDisplayName(), QStringLiteral("Apple Photos"));
    QCoreApplication::processEvents();
    QCOMPARE(events.count(), 1);
}

void tst_CliPluginEvents::dropImage()
{
    startBackEnd({QStringLiteral("prog"), QStringLiteral("--editor=Ignored")});
    QVERIFY(!m_thread->backEnd()->isPluginMode());
    QSignalSpy added(m_relay.get(), &PluginDataRelay::imagesAdded);

    QImage image(24, 12, QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgba(x * 10, y * 20, (x + y) % 2 ? 255 : 0, 128 + x));

    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(image.save(&buffer, "png"));
    const QString expected = path(QStringLiteral("tmp/")) + QString::number(qHash(QByteArrayView(png), 0))
        + QStringLiteral(".png");

    // A link planted under the predictable name is replaced, not written through.
    const QString victim = path(QStringLiteral("victim.txt"));
    QFile victimFile(victim);
    QVERIFY(victimFile.open(QIODevice::WriteOnly));
    victimFile.write("keep");
    victimFile.close();
    QVERIFY(QFile::link(victim, expected));

    for (int round = 0; round < 2; ++round) {
        auto *mime = new QMimeData;
        mime->setImageData(image);
        QVERIFY(sendDrop(mime));
        delete mime;
        QTRY_COMPARE(added.count(), round + 1);
        QCOMPARE(added.at(round).at(0).toStringList(), QStringList{expected});
    }
    QVERIFY(!QFileInfo(expected).isSymLink());
    QFile victimAfter(victim);
    QVERIFY(victimAfter.open(QIODevice::ReadOnly));
    QCOMPARE(victimAfter.readAll(), QByteArray("keep"));
    QCOMPARE(QImage(expected).convertToFormat(QImage::Format_ARGB32), image);
}

void tst_CliPluginEvents::dropUrlsAndFolder()
{
    const QString folder = path(QStringLiteral("dropped"));
    QVERIFY(QDir().mkpath(folder + QStringLiteral("/sub/deeper")));
    QVERIFY(CliPluginTest::writeJpeg(folder + QStringLiteral("/one.jpg"), 8, 8));
    QVERIFY(CliPluginTest::writeJpeg(folder + QStringLiteral("/sub/two.JPEG"), 8, 8));
    QVERIFY(CliPluginTest::writeJpeg(folder + QStringLiteral("/sub/deeper/three.png"), 8, 8));
    QVERIFY(CliPluginTest::touch(folder + QStringLiteral("/one.xmp")));
    QVERIFY(CliPluginTest::touch(folder + QStringLiteral("/sub/two.XMP")));
    QVERIFY(CliPluginTest::touch(folder + QStringLiteral("/README")));
    QVERIFY(CliPluginTest::touch(folder + QStringLiteral("/sub/list.csv")));

    startBackEnd({QStringLiteral("prog")});
    QSignalSpy added(m_relay.get(), &PluginDataRelay::imagesAdded);
    QSignalSpy rejected(m_relay.get(), &PluginDataRelay::invalidImages);

    auto mime = std::make_unique<QMimeData>();
    mime->setUrls({QUrl::fromLocalFile(path(QStringLiteral("a.jpg"))), QUrl::fromLocalFile(folder),
                   QUrl(path(QStringLiteral("with space.jpg"))), QUrl::fromLocalFile(path(QStringLiteral("gone.jpg"))),
                   QUrl::fromLocalFile(path(QStringLiteral("notes.txt")))});
    MessageCapture log;
    QVERIFY(sendDrop(mime.get()));
    QVERIFY(log.contains(QStringLiteral("Dropped URL: 0 QUrl(\"file://%1\")").arg(path(QStringLiteral("a.jpg")))));
    QVERIFY(log.contains(QStringLiteral("Dropped URL: 4")));

    QTRY_COMPARE(added.count(), 1);
    QStringList files = added.at(0).at(0).toStringList();
    QCOMPARE(files.mid(0, 1), QStringList{path(QStringLiteral("a.jpg"))});
    QCOMPARE(files.last(), path(QStringLiteral("with space.jpg")));
    files.sort();
    QStringList expected{folder + "/one.jpg", folder + "/sub/deeper/three.png", folder + "/sub/two.JPEG",
                         path("a.jpg"), path("with space.jpg")};
    expected.sort();
    QCOMPARE(files, expected);
    QCOMPARE(rejected.count(), 1);
    QStringList invalid = rejected.at(0).at(0).toStringList();
    invalid.sort();
    QStringList expectedInvalid{folder + "/sub/list.csv", path("notes.txt")};
    expectedInvalid.sort();
    QCOMPARE(invalid, expectedInvalid);
}

void tst_CliPluginEvents::dropIgnoredWhileEditor()
{
    startBackEnd({QStringLiteral("prog"), QStringLiteral("--editor=Capture One"), path(QStringLiteral("a.jpg"))});
    QSignalSpy added(m_relay.get(), &PluginDataRelay::imagesAdded);
    QTRY_COMPARE(added.count(), 1);

    auto mime = std::make_unique<QMimeData>();
    mime->setUrls({QUrl::fromLocalFile(path(QStringLiteral("with space.jpg")))});
    MessageCapture log;
    QVERIFY(sendDrop(mime.get()));
    QVERIFY(!log.contains(QStringLiteral("Dropped URL:")));
    QVERIFY(m_thread->backEnd()->getDataForMerging().isEmpty());
    QCoreApplication::processEvents();
    QCOMPARE(added.count(), 1);
}

QTEST_MAIN(tst_CliPluginEvents)
#include "tst_cliplugin_events.moc"
