// The filter settings exchange of PSPluginData over a real settings block: what loadSettings
// offers, and what saveSettings writes back into its copy and the record.

#include "PSTestSupport.h"

#include "psplugin/PSPluginData.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>

#include <cstring>

using namespace PSTestSupport;

namespace {

QString field(const char *text, size_t size)
{
    return QString::fromUtf8(text, qsizetype(strnlen(text, size)));
}

// An enhancement map whose compact JSON, {"k":"...","params":{}}, is `length` characters long.
QVariantMap enhancementOfLength(int length)
{
    return QVariantMap{{"category", "Denoise"}, {"k", QString(length - 20, QLatin1Char('x'))}, {"params", QVariantMap{{"auto", true}}}};
}

} // namespace

class tst_PSSettings : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup();
    void loadOffersTheHostsTexts_data();
    void loadOffersTheHostsTexts();
    void fieldsWithoutNulAreReadWhole();
    void enhancementsAreMinimized();
    void enhancementLengthLimit_data();
    void enhancementLengthLimit();
    void subjectSettingsAndStrokesAreSplit();
    void missingKeysGiveEmptyValues();
    void oversizedSubjectAndStrokesFallBack_data();
    void oversizedSubjectAndStrokesFallBack();
    void onlyTheFirst255BytesAreCleared();

private:
    PSPluginData *start(const HostSetup &setup = HostSetup());
    FilterHostSession *session = nullptr;
    PSPluginData *backEnd = nullptr;
};

PSPluginData *tst_PSSettings::start(const HostSetup &setup)
{
    session = new FilterHostSession;
    backEnd = startBackEnd(*session, makeHostImage(4, 4, false, false), setup);
    return backEnd;
}

void tst_PSSettings::cleanup()
{
    endBackEnd(session, backEnd);
}

void tst_PSSettings::loadOffersTheHostsTexts_data()
{
    QTest::addColumn<int>("runMode");
    QTest::addColumn<bool>("manual");
    QTest::newRow("run mode 0") << 0 << true;
    QTest::newRow("run mode 1") << 1 << false;
    QTest::newRow("run mode 2") << 2 << true;
    QTest::newRow("run mode 255") << 255 << true;
}

void tst_PSSettings::loadOffersTheHostsTexts()
{
    QFETCH(int, runMode);
    QFETCH(bool, manual);
    HostSetup setup;
    setup.runMode = uint8_t(runMode);
    setup.settings = QJsonObject{{"version", -7}, {"Denoise", "{\"d\":1}"}, {"Sharpen", "sharp"}, {"Enhance", "ünïcode"},
                                 {"Face Recovery", "{}"}, {"subjectSettings", "{\"s\":2}"}, {"maskStrokes", "[[1,2]]"}};
    QVERIFY(start(setup));
    const QVariantMap settings = backEnd->loadSettings(QStringLiteral("ignored"));
    QCOMPARE(settings.keys(), (QStringList{"Denoise", "Enhance", "Face Recovery", "Sharpen", "manual", "maskStrokes",
                                           "subjectSettings", "version"}));
    QCOMPARE(settings.value("version").typeId(), int(QMetaType::Int));
    QCOMPARE(settings.value("version").toInt(), -7);
    QCOMPARE(settings.value("manual").typeId(), int(QMetaType::Bool));
    QCOMPARE(settings.value("manual").toBool(), manual);
    QCOMPARE(settings.value("Denoise").toString(), QStringLiteral("{\"d\":1}"));
    QCOMPARE(settings.value("Sharpen").toString(), QStringLiteral("sharp"));
    QCOMPARE(settings.value("Enhance").toString(), QStringLiteral("ünïcode"));
    QCOMPARE(settings.value("Face Recovery").toString(), QStringLiteral("{}"));
    QCOMPARE(settings.value("subjectSettings").toString(), QStringLiteral("{\"s\":2}"));
    QCOMPARE(settings.value("maskStrokes").toString(), QStringLiteral("[[1,2]]"));
}

void tst_PSSettings::fieldsWithoutNulAreReadWhole()
{
    HostSetup setup;
    setup.settings = QJsonObject{{"Sharpen", QString(1024, QLatin1Char('s'))},
                                 {"maskStrokes", QString(int(IPCSettings::MaskStrokesSize), QLatin1Char('m'))}};
    QVERIFY(start(setup));
    const QVariantMap settings = backEnd->loadSettings(QString());
    QCOMPARE(settings.value("Sharpen").toString(), QString(1024, QLatin1Char('s')));
    QCOMPARE(settings.value("maskStrokes").toString().size(), qsizetype(IPCSettings::MaskStrokesSize));
}

void tst_PSSettings::enhancementsAreMinimized()
{
    QVERIFY(start());
    const QVariantMap denoise{{"category", "Denoise"}, {"model", "std"},
                              {"params", QVariantMap{{"auto", true}, {"strength", 40}}}};
    backEnd->saveSettings(QString(), {{"Denoise", denoise}, {"Sharpen", QVariantMap{{"category", "Sharpen"}}}});
    const IPCSettings &written = session->record()->settings;
    QCOMPARE(field(written.denoiseSettings, 1024), QStringLiteral("{\"model\":\"std\",\"params\":{\"strength\":40}}"));
    QCOMPARE(field(written.sharpenSettings, 1024), QStringLiteral("{\"params\":{}}"));
    QCOMPARE(written.settingsVersion, 1);
    QCOMPARE(written.settingsWritten, 1u);
    const QVariantMap back = backEnd->loadSettings(QString());
    QCOMPARE(back.value("Denoise").toString(), QStringLiteral("{\"model\":\"std\",\"params\":{\"strength\":40}}"));
    QCOMPARE(back.value("version").toInt(), 1);
    // The record's own bytes are not the settings block's business.
    QCOMPARE(int(session->record()->runMode), 1);
    QCOMPARE(int(session->record()->status), int(FilterHostSession::UntouchedStatus));
}

void tst_PSSettings::enhancementLengthLimit_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("stored");
    QTest::newRow("255 characters are stored") << 255 << true;
    QTest::newRow("256 characters fall back") << 256 << false;
}

void tst_PSSettings::enhancementLengthLimit()
{
    QFETCH(int, length);
    QFETCH(bool, stored);
    QVERIFY(start());
    const QVariantMap enhance = enhancementOfLength(length);
    if (!stored) {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral(
            "^\"Denoise\" settings too large, defaulting to \\{\\}\\. Minimized settings: QMap\\(.*\\) \\(256\\)$")));
    }
    backEnd->saveSettings(QString(), {{"Enhance", enhance}});
    const QString text = field(session->record()->settings.enhanceSettings, 1024);
    if (stored) {
        QCOMPARE(text.size(), 255);
        QVERIFY(text.startsWith(QStringLiteral("{\"k\":\"xxx")));
        QVERIFY(text.endsWith(QStringLiteral("\",\"params\":{}}")));
    } else {
        QCOMPARE(text, QStringLiteral("{}"));
    }
}

void tst_PSSettings::subjectSettingsAndStrokesAreSplit()
{
    QVERIFY(start());
    const QVariantMap subject{{"strokes", QVariantList{QVariantMap{{"x", 1}}, 2}}, {"originalSubjectPath", "/tmp/a.png"},
                              {"threshold", 0.5}};
    const QVariantMap settings{{"subjectSettings", subject}};
    backEnd->saveSettings(QString(), settings);
    const IPCSettings &written = session->record()->settings;
    QCOMPARE(field(written.subjectSettings, 1024), QStringLiteral("{\"threshold\":0.5}"));
    QCOMPARE(field(written.maskStrokes, IPCSettings::MaskStrokesSize), QStringLiteral("[{\"x\":1},2]"));
    QCOMPARE(settings.value("subjectSettings").toMap().size(), 3); // the caller's map is untouched
}

void tst_PSSettings::missingKeysGiveEmptyValues()
{
    QVERIFY(start());
    backEnd->saveSettings(QString(), {{"unrelated", 1}, {"subjectSettings", "not a map"}});
    const IPCSettings &written = session->record()->settings;
    for (const char *text : {written.denoiseSettings, written.sharpenSettings, written.enhanceSettings, written.faceRecoverySettings})
        QCOMPARE(field(text, 1024), QStringLiteral("{\"params\":{}}"));
    QCOMPARE(field(written.subjectSettings, 1024), QStringLiteral("{}"));
    QCOMPARE(field(written.maskStrokes, IPCSettings::MaskStrokesSize), QStringLiteral("[]"));
}

void tst_PSSettings::oversizedSubjectAndStrokesFallBack_data()
{
    QTest::addColumn<QVariantMap>("subject");
    QTest::addColumn<QString>("warning");
    QTest::addColumn<QString>("subjectText");
    QTest::addColumn<QString>("strokesText");
    const int limit = int(IPCSettings::MaskStrokesSize);
    // ["aaa..."]: the string's length plus four characters.
    QTest::newRow("subject of 256 characters") << QVariantMap{{"k", QString(248, QLatin1Char('a'))}}
                                               << "Subject settings too large, defaulting to {}. Minimized length: 256"
                                               << "{}" << "[]";
    QTest::newRow("subject of 255 characters") << QVariantMap{{"k", QString(247, QLatin1Char('a'))}} << QString()
                                               << QStringLiteral("{\"k\":\"%1\"}").arg(QString(247, QLatin1Char('a'))) << "[]";
    QTest::newRow("strokes at the limit") << QVariantMap{{"strokes", QVariantList{QString(limit - 4, QLatin1Char('s'))}}}
                                          << QStringLiteral("Mask strokes too large, defaulting to {}. Length: %1").arg(limit)
                                          << "{}" << "[]";
    QTest::newRow("strokes whose UTF-8 is too long") << QVariantMap{{"strokes", QVariantList{QString(limit / 2, QChar(0x00E9))}}}
                                                     << QStringLiteral("Mask strokes too large, defaulting to {}. Length: %1").arg(limit / 2 + 4)
                                                     << "{}" << "[]";
}

void tst_PSSettings::oversizedSubjectAndStrokesFallBack()
{
    QFETCH(QVariantMap, subject);
    QFETCH(QString, warning);
    QFETCH(QString, subjectText);
    QFETCH(QString, strokesText);
    QVERIFY(start());
    if (!warning.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
    backEnd->saveSettings(QString(), {{"subjectSettings", subject}});
    const IPCSettings &written = session->record()->settings;
    QCOMPARE(field(written.subjectSettings, 1024), subjectText);
    QCOMPARE(field(written.maskStrokes, IPCSettings::MaskStrokesSize), strokesText);
    QCOMPARE(written.settingsWritten, 1u);
}

void tst_PSSettings::onlyTheFirst255BytesAreCleared()
{
    HostSetup setup;
    setup.settings = QJsonObject{{"Denoise", QString(1000, QLatin1Char('z'))}, {"maskStrokes", QString(300, QLatin1Char('q'))}};
    QVERIFY(start(setup));
    backEnd->saveSettings(QString(), {});
    const IPCSettings &written = session->record()->settings;
    const QByteArray denoise(written.denoiseSettings, 1024);
    QCOMPARE(denoise.left(14), QByteArray("{\"params\":{}}\0", 14));
    QCOMPARE(denoise.mid(14, 241), QByteArray(241, '\0'));
    QCOMPARE(denoise.mid(255, 745), QByteArray(745, 'z'));
    const QByteArray strokes(written.maskStrokes, 300);
    QCOMPARE(strokes.left(3), QByteArray("[]\0", 3));
    QCOMPARE(strokes.mid(3), QByteArray(297, 'q'));
    // What the record holds is the back end's copy, block for block.
    QCOMPARE(backEnd->loadSettings(QString()).value("Denoise").toString(), QStringLiteral("{\"params\":{}}"));
}

QTEST_GUILESS_MAIN(tst_PSSettings)
#include "tst_pssettings.moc"
