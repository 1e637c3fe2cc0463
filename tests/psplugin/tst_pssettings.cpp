// The filter settings exchange of PSPluginData over a real settings block: what loadSettings
// offers, and what saveSettings writes back into its copy and the record.

#include "PSTestSupport.h"

#include "psplugin/PSPluginData.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace PSTestSupport;

namespace {

// The keys of the settings map, in the order of the record's fields.
const char *const Keys[6] = {"Denoise", "Sharpen", "Enhance", "Face Recovery", "subjectSettings", "maskStrokes"};

} // namespace

class tst_PSSettings : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup();
    void loadOffersTheHostsTexts_data();
    void loadOffersTheHostsTexts();
    void saveWritesCompactTexts_data();
    void saveWritesCompactTexts();
    void onlyTheFirst255BytesAreCleared();

private:
    bool start(const HostSetup &setup = HostSetup());
    FilterHostSession *m_session = nullptr;
    PSPluginData *m_backEnd = nullptr;
};

bool tst_PSSettings::start(const HostSetup &setup)
{
    m_backEnd = startBackEnd(m_session, makeHostImage(4, 4, false, false), setup);
    return m_backEnd != nullptr;
}

void tst_PSSettings::cleanup()
{
    endBackEnd(m_session, m_backEnd);
}

void tst_PSSettings::loadOffersTheHostsTexts_data()
{
    QTest::addColumn<int>("runMode");
    QTest::addColumn<bool>("manual");
    QTest::addColumn<QString>("sharpen");
    QTest::newRow("run mode 0") << 0 << true << "sharp";
    QTest::newRow("run mode 1") << 1 << false << "ünïcode";
    // A field without a NUL is read to its end, and not a byte further.
    QTest::newRow("run mode 2, field full") << 2 << true << QString(int(IPCSettings::TextFieldSize), QLatin1Char('s'));
}

void tst_PSSettings::loadOffersTheHostsTexts()
{
    QFETCH(int, runMode);
    QFETCH(bool, manual);
    QFETCH(QString, sharpen);
    HostSetup setup;
    setup.runMode = uint8_t(runMode);
    setup.settings = QJsonObject{{"version", -7}, {"Denoise", "{\"d\":1}"}, {"Sharpen", sharpen}, {"Face Recovery", "{}"},
                                 {"subjectSettings", "{\"s\":2}"}, {"maskStrokes", "[[1,2]]"}};
    QVERIFY(start(setup));
    const QVariantMap expected{{"version", -7}, {"manual", manual}, {"Denoise", "{\"d\":1}"}, {"Sharpen", sharpen},
                               {"Enhance", ""}, {"Face Recovery", "{}"}, {"subjectSettings", "{\"s\":2}"},
                               {"maskStrokes", "[[1,2]]"}};
    QCOMPARE(m_backEnd->loadSettings(QStringLiteral("ignored")), expected);
}

void tst_PSSettings::saveWritesCompactTexts_data()
{
    QTest::addColumn<QVariantMap>("settings");
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("expected");
    const int strokesLimit = int(IPCSettings::MaskStrokesSize);
    const auto enhancementOfLength = [](int length) { // {"k":"...","params":{}} is `length` long
        return QVariantMap{{"Enhance", QVariantMap{{"category", "Enhance"}, {"k", QString(length - 20, QLatin1Char('x'))},
                                                   {"params", QVariantMap{{"auto", true}}}}}};
    };
    const auto subject = [](const QVariantMap &map) { return QVariantMap{{"subjectSettings", map}}; };

    QTest::newRow("category and auto left out")
        << QVariantMap{{"Denoise", QVariantMap{{"category", "Denoise"}, {"model", "std"},
                                               {"params", QVariantMap{{"auto", true}, {"strength", 40}}}}}}
        << 0 << R"({"model":"std","params":{"strength":40}})";
    QTest::newRow("missing enhancement") << QVariantMap{{"unrelated", 1}} << 3 << R"({"params":{}})";
    QTest::newRow("enhancement of 255 characters")
        << enhancementOfLength(255) << 2 << QStringLiteral(R"({"k":"%1","params":{}})").arg(QString(235, QLatin1Char('x')));
    QTest::newRow("enhancement of 256 characters") << enhancementOfLength(256) << 2 << "{}";
    const QVariantMap split{{"strokes", QVariantList{QVariantMap{{"x", 1}}, 2}}, {"originalSubjectPath", "/tmp/a.png"},
                            {"threshold", 0.5}};
    QTest::newRow("subject without strokes and path") << subject(split) << 4 << R"({"threshold":0.5})";
    QTest::newRow("strokes apart") << subject(split) << 5 << R"([{"x":1},2])";
    QTest::newRow("subject not a map") << QVariantMap{{"subjectSettings", "not a map"}} << 4 << "{}";
    QTest::newRow("subject of 255 characters") << subject({{"k", QString(247, QLatin1Char('a'))}}) << 4
                                               << QStringLiteral(R"({"k":"%1"})").arg(QString(247, QLatin1Char('a')));
    QTest::newRow("subject of 256 characters") << subject({{"k", QString(248, QLatin1Char('a'))}}) << 4 << "{}";
    // ["sss..."]: the text's length plus four characters.
    QTest::newRow("strokes at the limit") << subject({{"strokes", QVariantList{QString(strokesLimit - 4, QLatin1Char('s'))}}})
                                          << 5 << "[]";
    QTest::newRow("strokes whose UTF-8 is too long")
        << subject({{"strokes", QVariantList{QString(strokesLimit / 2, QChar(0x00E9))}}}) << 5 << "[]";
}

void tst_PSSettings::saveWritesCompactTexts()
{
    QFETCH(QVariantMap, settings);
    QFETCH(int, field);
    QFETCH(QString, expected);
    QVERIFY(start());
    m_backEnd->saveSettings(QString(), settings);
    const QJsonObject written = m_session->readSettings(); // as the filter module reads the record
    const QString key = QLatin1String(Keys[field]);
    QCOMPARE(written.value(key).toString(), expected);
    QCOMPARE(written.value("version").toInt(), 1);
    QCOMPARE(written.value("settingsWritten").toInt(), 1);
    // The record and the back end's copy agree; the rest of the record is not touched.
    QCOMPARE(m_backEnd->loadSettings(QString()).value(key).toString(), expected);
    QCOMPARE(int(m_session->record()->status), int(FilterHostSession::UntouchedStatus));
}

void tst_PSSettings::onlyTheFirst255BytesAreCleared()
{
    HostSetup setup;
    setup.settings = QJsonObject{{"Denoise", QString(1000, QLatin1Char('z'))}, {"maskStrokes", QString(300, QLatin1Char('q'))}};
    QVERIFY(start(setup));
    m_backEnd->saveSettings(QString(), {});
    const IPCSettings &written = m_session->record()->settings;
    const QByteArray denoise(written.denoiseSettings, 1024);
    QCOMPARE(denoise.left(14), QByteArray("{\"params\":{}}\0", 14));
    QCOMPARE(denoise.mid(14, 241), QByteArray(241, '\0'));
    QCOMPARE(denoise.mid(255, 745), QByteArray(745, 'z'));
    const QByteArray strokes(written.maskStrokes, 300);
    QCOMPARE(strokes.left(3), QByteArray("[]\0", 3));
    QCOMPARE(strokes.mid(3), QByteArray(297, 'q'));
}

QTEST_GUILESS_MAIN(tst_PSSettings)
#include "tst_pssettings.moc"
