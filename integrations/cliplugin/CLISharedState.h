#ifndef CLISHAREDSTATE_H
#define CLISHAREDSTATE_H

#include <QMutex>
#include <QMutexLocker>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

// What the external-editor back end's two threads both touch: the GUI thread (start-up, start,
// application events, the facade's queries) and the worker thread (loading, saving, merging).
// Every access goes through one mutex, held only inside these functions, so that no signal is
// ever emitted under it: a direct connection may call straight back into a query.
class CLISharedState
{
public:
    // The files that an announcement hands over; both empty before the back end has started.
    struct Announcement
    {
        QStringList invalidFiles;
        QStringList files;
    };
    // The values of the usage event.
    struct InfoEvent
    {
        QString processName;
        QString externalEditor;
        qint32 fileCount = 0;
    };

    // Files waiting to be announced. A path is accepted at most once; rejects keep their repeats.
    void acceptFile(const QString &path);
    void rejectFile(const QString &path);
    bool hasPendingFiles() const;
    QStringList pendingFiles() const;
    // From now on files are announced as they come. Returns the files that waited for it.
    QStringList startAnnouncing();
    // Takes the waiting files, and counts the accepted ones, once announcing has started.
    Announcement takeAnnouncement();
    // The usage event's values, once in the object's life: when files have been announced and an
    // editor is known.
    std::optional<InfoEvent> takeInfoEvent();

    QString forcedEditor() const { return read(m_forcedEditor); }
    void setForcedEditor(const QString &editor) { write(m_forcedEditor, editor); }
    QString externalEditor() const { return read(m_externalEditor); }
    void setExternalEditor(const QString &editor) { write(m_externalEditor, editor); }
    QString processName() const { return read(m_processName); }
    void setProcessName(const QString &name) { write(m_processName, name); }

    bool isLoading() const { return read(m_loading); }
    void setLoading(bool loading) { write(m_loading, loading); }
    QString loadingStatus() const { return read(m_loadingStatus); }
    // Returns whether the status changed.
    bool setLoadingStatus(const QString &status);
    QString loadingError() const { return read(m_loadingError); }
    void setLoadingError(const QString &error) { write(m_loadingError, error); }

private:
    template<typename T>
    T read(const T &field) const
    {
        const QMutexLocker lock(&m_mutex);
        return field;
    }
    template<typename T>
    void write(T &field, const T &value)
    {
        const QMutexLocker lock(&m_mutex);
        field = value;
    }

    mutable QMutex m_mutex;

    QStringList m_files;
    // Beside m_files so that a folder of many thousand files is accepted in linear time.
    QSet<QString> m_fileSet;
    QStringList m_invalidFiles;
    qint32 m_fileCount = 0;
    bool m_started = false;
    bool m_infoSent = false;

    QString m_forcedEditor;
    QString m_externalEditor;
    QString m_processName;

    bool m_loading = false;
    QString m_loadingStatus;
    QString m_loadingError;
};

#endif // CLISHAREDSTATE_H
