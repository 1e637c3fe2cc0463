#ifndef CLIFUZZSUPPORT_H
#define CLIFUZZSUPPORT_H

#include <QObject>
#include <QStringList>

class CLIPluginData;

// Records what a back end of external-editor mode announces, through direct connections: the
// fuzz targets call it on their own thread.
class AnnouncementLog : public QObject
{
    Q_OBJECT
public:
    explicit AnnouncementLog(CLIPluginData *backEnd);

    void clear();

    QStringList added;
    QStringList invalid;
    int addedSignals = 0;
    bool lastMerging = false;
};

// Every announced file exists, has forward slashes and appears once per announcement.
void checkAnnouncedFiles(const QStringList &files);

#endif // CLIFUZZSUPPORT_H
