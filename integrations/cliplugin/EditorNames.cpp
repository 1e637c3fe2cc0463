#include "EditorNames.h"

const QStringList &EditorNames::knownNonEditors()
{
    static const QStringList names{
        QStringLiteral("cmd"), QStringLiteral("explorer"), QStringLiteral("OpenWith"),
        QStringLiteral("chrome"), QStringLiteral("rundll32"), QStringLiteral("dllhost"),
    };
    return names;
}

QString EditorNames::fallbackName()
{
    return QStringLiteral("External Editor");
}

EditorNames::Match EditorNames::match(const QString &processName)
{
    if (knownNonEditors().contains(processName, Qt::CaseInsensitive))
        return {Kind::NotAnEditor, QString()};
    if (processName.contains(QLatin1String("lightroom"), Qt::CaseInsensitive))
        return {Kind::Known, QStringLiteral("Adobe Lightroom Classic")};
    if (processName.contains(QLatin1String("P1.C1.PluginHostProcess"), Qt::CaseInsensitive))
        return {Kind::Known, QStringLiteral("Capture One")};
    return {Kind::ByDescription, fallbackName()};
}
