#ifndef FILEINTAKE_H
#define FILEINTAKE_H

#include <QString>
#include <QStringList>

class CLISharedState;
class QFileOpenEvent;
class QMimeData;

// Turns what reaches the external-editor back end into accepted and rejected files: the command
// line, file-open events and "orvane" editor URLs, drops of images, files and folders, and the
// pending files of a second instance. The files wait in the shared state for their announcement,
// which is the back end's.
class FileIntake
{
public:
    enum class FileOpen {
        EditorNamed, // an "orvane" editor URL: its name is the forced editor now
        FileOffered, // the event's file went to addFile
    };

    explicit FileIntake(CLISharedState &shared);

    // The editor option becomes the forced editor; the other arguments after the program are
    // offered as files.
    void addLaunchArguments(const QStringList &arguments);
    // Accepts an existing file of a supported format, drops "xmp" sidecars silently and rejects
    // everything else.
    void addFile(const QString &path);

    FileOpen addFileOpen(const QFileOpenEvent &event);
    // Each returns whether the drop carried that kind of data.
    bool addDroppedImage(const QMimeData &mime);
    bool addDroppedUrls(const QMimeData &mime);

    // The pending files as another instance hands them over, and their intake there.
    QString mergeData() const;
    void addMergeData(const QString &data);

private:
    void addDirectory(const QString &dir);
    static QString saveDroppedImage(const QVariant &imageData);

    CLISharedState &m_shared;
    const QStringList m_supportedFormats;
};

#endif // FILEINTAKE_H
