#include "PSHostTable.h"

#include <algorithm>
#include <initializer_list>
#include <utility>

namespace {

const QString HostEditor = QStringLiteral("Host Editor");

// Earlier entries win, so longer product names come before their prefixes.
QString firstMatch(const QString &processName, std::initializer_list<std::pair<const char *, const char *>> rows)
{
    for (const auto &row : rows) {
        if (processName.contains(QLatin1String(row.first), Qt::CaseInsensitive))
            return QString::fromLatin1(row.second);
    }
    return HostEditor;
}

} // namespace

QString PSHostTable::signatureFromRecord(const char bytes[4])
{
    QString signature = QString::fromUtf8(bytes, 4);
    std::reverse(signature.begin(), signature.end());
    return signature;
}

QString PSHostTable::displayName(const QString &signature, const QString &processName)
{
    if (signature == QLatin1String("8BIM")) {
        return firstMatch(processName, {{"elements", "Adobe Photoshop Elements"},
                                        {"photoshop", "Adobe Photoshop"},
                                        {"painter", "Corel Painter"},
                                        {"corelpp", "Corel PHOTO-PAINT"},
                                        {"coreldrw", "CorelDRAW"},
                                        {"photoline", "PhotoLine"},
                                        {"luminar flex", "Luminar Flex"},
                                        {"luminar", "Luminar"}});
    }
    if (signature == QLatin1String("8BIF")) {
        return firstMatch(processName, {{"acdseeultimate", "ACDSee Ultimate"},
                                        {"acdseeprofessional", "ACDSee Professional"},
                                        {"acdseegemstone", "ACDSee Gemstone"}});
    }
    if (signature == QLatin1String("MIB8"))
        return firstMatch(processName, {{"xnviewmp", "XnView MP"}});
    if (signature == QLatin1String("PSP9"))
        return QStringLiteral("Corel PaintShop Pro");
    if (signature == QLatin1String("AffP") || signature == QLatin1String("PffA")) {
        return processName.contains(QLatin1Char('2')) ? QStringLiteral("Affinity Photo 2")
                                                      : QStringLiteral("Affinity Photo");
    }
    if (signature == QLatin1String("onUn"))
        return QStringLiteral("ON1 Photo RAW");
    if (signature == QLatin1String("GIMP"))
        return QStringLiteral("GIMP");
    if (signature == QLatin1String(".PDN"))
        return QStringLiteral("Paint.NET");
    if (signature == QLatin1String(".NET"))
        return firstMatch(processName, {{"aurora", "Aurora HDR"}, {"luminar", "Luminar"}});
    if (signature == QLatin1String("Orvn"))
        return QStringLiteral("Orvane Studio");
    return HostEditor;
}
