// The settings exchange with arbitrary maps: strings with any code unit, nesting, wrong types
// and repeated elements (texts past the megabytes of the strokes field are left to the regular
// tests, as one such input costs as much as thousands of others). Whatever comes in,
// what is written into the block must be compact JSON that fits its field and reads back
// unchanged. The block is one buffer reused for every input, as the back end reuses its copy.

#include "FuzzSupport.h"
#include "psplugin/IPCSettings.h"
#include "psplugin/PSSettingsExchange.h"

#include <QJsonDocument>
#include <QVariantMap>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>

using FuzzSupport::check;

namespace {

const QStringList &settingsKeys()
{
    static const QStringList keys = {"Denoise",  "Sharpen", "Enhance", "Face Recovery", "subjectSettings",
                                     "category", "params",  "auto",    "strokes",       "originalSubjectPath",
                                     "version"};
    return keys;
}

QString storedText(const char *field, std::size_t fieldSize)
{
    return QString::fromUtf8(field, qsizetype(strnlen(field, fieldSize)));
}

void checkField(const QVariantMap &loaded, const char *key, const char *field, std::size_t fieldSize,
                qsizetype maxLength, bool array)
{
    const QString text = loaded.value(QLatin1String(key)).toString();
    check(text.size() <= maxLength, "stored text longer than its limit", QLatin1String(key));
    check(text.toUtf8().size() < qsizetype(fieldSize), "stored text does not fit its field", QLatin1String(key));
    check(text == storedText(field, fieldSize), "record and loadSettings disagree", QLatin1String(key));
    // Parsing megabytes of strokes would cost more than the code under test: a long text is
    // only checked for its brackets.
    if (text.size() > 65536) {
        check(text.startsWith(QLatin1Char('[')) && text.endsWith(QLatin1Char(']')), "long stored text is not an array",
              QLatin1String(key));
        return;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    check(error.error == QJsonParseError::NoError, "stored text is not JSON",
          QLatin1String(key) + QLatin1Char(' ') + error.errorString());
    check(array ? document.isArray() : document.isObject(), "stored JSON of the wrong kind", QLatin1String(key));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSupport::initialize(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    FuzzSupport::resetRepeatBudget();
    QVariantMap settings;
    const int entries = in.ConsumeIntegralInRange(0, 8);
    for (int i = 0; i < entries && in.remaining_bytes() > 0; ++i) {
        const QString key =
            in.ConsumeBool() ? settingsKeys().at(in.ConsumeIntegralInRange(0, 4)) : FuzzSupport::consumeText(in, 16);
        settings.insert(key, FuzzSupport::consumeValue(in, 5, settingsKeys()));
    }

    static IPCSettings *const block = new IPCSettings();
    const QVariantMap before = settings;
    PSSettingsExchange::write(settings, *block);
    check(settings == before, "writing changed the caller's map");

    const IPCSettings &stored = *block;
    const QVariantMap loaded = PSSettingsExchange::read(stored, 1);
    check(loaded.value(QStringLiteral("version")).toInt() == 1 && stored.settingsVersion == 1, "version is not 1");
    check(stored.settingsWritten == 1, "settingsWritten is not 1");
    checkField(loaded, "Denoise", stored.denoiseSettings, sizeof(stored.denoiseSettings), 255, false);
    checkField(loaded, "Sharpen", stored.sharpenSettings, sizeof(stored.sharpenSettings), 255, false);
    checkField(loaded, "Enhance", stored.enhanceSettings, sizeof(stored.enhanceSettings), 255, false);
    checkField(loaded, "Face Recovery", stored.faceRecoverySettings, sizeof(stored.faceRecoverySettings), 255, false);
    checkField(loaded, "subjectSettings", stored.subjectSettings, sizeof(stored.subjectSettings), 255, false);
    checkField(loaded, "maskStrokes", stored.maskStrokes, sizeof(stored.maskStrokes), sizeof(stored.maskStrokes) - 1,
               true);
    return 0;
}
