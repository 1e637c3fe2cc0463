#ifndef PSSETTINGSEXCHANGE_H
#define PSSETTINGSEXCHANGE_H

#include "psplugin/IPCSettings.h"

#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <cstdint>

// The filter's settings in both of their forms: the map the user interface works with, and the
// settings block of the IPC record, whose fixed fields hold NUL-terminated compact JSON texts.
// Works on any block, so the back end applies it to its own copy.
class PSSettingsExchange
{
public:
    // The map loadSettings answers: "version", "manual" (true unless `runMode` is 1) and the
    // six stored texts, each read up to its NUL or the end of its field.
    static QVariantMap read(const IPCSettings &block, uint8_t runMode);

    // Stores the four enhancements, the subject settings and the mask strokes of `settings` as
    // compact JSON; a text that does not fit its field is stored as "{}" (or "[]" for the
    // strokes). Sets the version and the written flag to 1.
    static void write(const QVariantMap &settings, IPCSettings &block);

private:
    static QString minimizeFilterSettings(QVariantMap settings);
    static QString toCompactJson(const QVariantMap &map);
    static QString toCompactJson(const QVariantList &list);
};

#endif // PSSETTINGSEXCHANGE_H
