#include "CliFuzzSupport.h"

#include "FuzzSupport.h"

#include "cliplugin/CLIPluginData.h"

#include <QFile>
#include <QSet>

AnnouncementLog::AnnouncementLog(CLIPluginData *backEnd)
{
    connect(
        backEnd, &PluginData::imagesAdded, this,
        [this](const QStringList &ids, bool merging) {
            FuzzSupport::check(!ids.isEmpty(), "imagesAdded with an empty list");
            FuzzSupport::check(ids.size() == QSet<QString>(ids.cbegin(), ids.cend()).size(),
                               "a file announced twice at once", ids.join(QLatin1Char('|')));
            added += ids;
            lastMerging = merging;
            ++addedSignals;
        },
        Qt::DirectConnection);
    connect(
        backEnd, &PluginData::invalidImages, this,
        [this](const QStringList &files) {
            FuzzSupport::check(!files.isEmpty(), "invalidImages with an empty list");
            invalid += files;
        },
        Qt::DirectConnection);
}

void AnnouncementLog::clear()
{
    added.clear();
    invalid.clear();
    addedSignals = 0;
    lastMerging = false;
}

void checkAnnouncedFiles(const QStringList &files)
{
    for (const QString &file : files) {
        FuzzSupport::check(!file.contains(QLatin1Char('\\')), "announced path with a backslash", file);
        FuzzSupport::check(QFile::exists(file), "announced file does not exist", file);
    }
}
