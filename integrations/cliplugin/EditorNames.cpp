#include "EditorNames.h"

#include "ProcessIdentity.h"

// The six launchers first and in their order wherever the library runs (a test parent under such
// a name means the same everywhere), then what the running system adds: nothing on Windows.
const QStringList &EditorNames::knownNonEditors()
{
    static const QStringList names = [] {
        QStringList all{
            QStringLiteral("cmd"),    QStringLiteral("explorer"), QStringLiteral("OpenWith"),
            QStringLiteral("chrome"), QStringLiteral("rundll32"), QStringLiteral("dllhost"),
        };
        for (const std::string &name : ProcessIdentity::systemLaunchers())
            all << QString::fromStdString(name);
        return all;
    }();
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
