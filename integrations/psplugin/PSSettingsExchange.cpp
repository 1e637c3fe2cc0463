#include "PSSettingsExchange.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>

#include <cstring>

namespace {

// Text fields need not end with a NUL; nothing past the field may be read.
QString fromField(const char *field, std::size_t fieldSize)
{
    const void *nul = std::memchr(field, 0, fieldSize);
    const std::size_t length = nul ? static_cast<std::size_t>(static_cast<const char *>(nul) - field) : fieldSize;
    return QString::fromUtf8(field, static_cast<qsizetype>(length));
}

} // namespace

QVariantMap PSSettingsExchange::read(const IPCSettings &block, uint8_t runMode)
{
    QVariantMap settings;
    settings.insert(QStringLiteral("version"), int(block.settingsVersion));
    settings.insert(QStringLiteral("manual"), runMode != 1);
    settings.insert(QStringLiteral("Denoise"), fromField(block.denoiseSettings, IPCSettings::TextFieldSize));
    settings.insert(QStringLiteral("Sharpen"), fromField(block.sharpenSettings, IPCSettings::TextFieldSize));
    settings.insert(QStringLiteral("Enhance"), fromField(block.enhanceSettings, IPCSettings::TextFieldSize));
    settings.insert(QStringLiteral("Face Recovery"), fromField(block.faceRecoverySettings, IPCSettings::TextFieldSize));
    settings.insert(QStringLiteral("subjectSettings"), fromField(block.subjectSettings, IPCSettings::TextFieldSize));
    settings.insert(QStringLiteral("maskStrokes"), fromField(block.maskStrokes, IPCSettings::MaskStrokesSize));
    return settings;
}

void PSSettingsExchange::write(const QVariantMap &settings, IPCSettings &block)
{
    QByteArray texts[6];
    const char *const enhancements[4] = {"Denoise", "Sharpen", "Enhance", "Face Recovery"};
    for (int i = 0; i < 4; ++i)
        texts[i] = minimizeFilterSettings(settings.value(QLatin1String(enhancements[i])).toMap()).toUtf8();

    QVariantMap subject = settings.value(QStringLiteral("subjectSettings")).toMap();
    const QString strokesText = toCompactJson(subject.value(QStringLiteral("strokes")).toList());
    subject.remove(QStringLiteral("originalSubjectPath"));
    subject.remove(QStringLiteral("strokes"));
    const QString subjectText = toCompactJson(subject);
    texts[4] = subjectText.toUtf8();
    if (subjectText.size() >= 256) {
        qWarning() << "Subject settings too large, defaulting to {}. Minimized length:" << subjectText.size();
        texts[4] = "{}";
    }
    // The field holds UTF-8 bytes and a NUL: a text whose bytes would not fit is refused too.
    texts[5] = strokesText.toUtf8();
    if (strokesText.size() >= qsizetype(IPCSettings::MaskStrokesSize)
        || texts[5].size() >= qsizetype(IPCSettings::MaskStrokesSize)) {
        qWarning() << "Mask strokes too large, defaulting to {}. Length:" << strokesText.size();
        texts[5] = "[]";
    }

    block.settingsVersion = 1;
    block.settingsWritten = 1;
    char *const fields[6] = {block.denoiseSettings,      block.sharpenSettings, block.enhanceSettings,
                             block.faceRecoverySettings, block.subjectSettings, block.maskStrokes};
    for (int i = 0; i < 5; ++i)
        std::memset(fields[i], 0, 255);
    for (int i = 0; i < 6; ++i) {
        std::memcpy(fields[i], texts[i].constData(), std::size_t(texts[i].size()));
        fields[i][texts[i].size()] = '\0';
    }
}

QString PSSettingsExchange::minimizeFilterSettings(QVariantMap settings)
{
    const QString category = settings.value(QStringLiteral("category")).toString();
    settings.remove(QStringLiteral("category"));
    QVariantMap params = settings.value(QStringLiteral("params")).toMap();
    params.remove(QStringLiteral("auto"));
    settings.insert(QStringLiteral("params"), params);
    const QString text = toCompactJson(settings);
    if (text.size() >= 256) {
        // The line holds the whole map, which costs more to format than the rest of the save:
        // skipped where warnings are switched off.
        if (QLoggingCategory::defaultCategory()->isWarningEnabled())
            qWarning() << category << "settings too large, defaulting to {}. Minimized settings:" << settings
                       << qPrintable(QStringLiteral("(%1)").arg(text.size()));
        return QStringLiteral("{}");
    }
    return text;
}

QString PSSettingsExchange::toCompactJson(const QVariantMap &map)
{
    return QString::fromUtf8(QJsonDocument(QJsonObject::fromVariantMap(map)).toJson(QJsonDocument::Compact));
}

QString PSSettingsExchange::toCompactJson(const QVariantList &list)
{
    return QString::fromUtf8(QJsonDocument(QJsonArray::fromVariantList(list)).toJson(QJsonDocument::Compact));
}
