#ifndef CLIPLUGINTESTSUPPORT_H
#define CLIPLUGINTESTSUPPORT_H

#include "PluginData.h"

#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QtMessageHandler>

#include <memory>

// Collects every message of Qt's logger while it lives (from any thread) and still prints it.
class MessageCapture
{
public:
    MessageCapture();
    ~MessageCapture();

    QStringList messages() const;
    bool contains(const QString &text) const;
    // Index of the first message starting with `text`, -1 when none.
    int indexOf(const QString &text) const;

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message);
    QtMessageHandler m_previous = nullptr;
};

// Re-emits a back end's signals on the thread this object lives in (queued), so that QSignalSpy
// can watch a back end that runs on another thread.
class PluginDataRelay : public QObject
{
    Q_OBJECT
public:
    explicit PluginDataRelay(PluginData *backEnd);

Q_SIGNALS:
    void isPluginModeChanged(bool isPluginMode);
    void isLoadingChanged(bool isLoading);
    void imageLoaded(QString id, QVariantMap imageData);
    void imagesAdded(QStringList ids, bool mergingInstance);
    void imageSaved(QString outputPath);
    void imageSavingProgress(QString outputPath, float progress);
    void imageSavingError(QString outputPath, QString error);
    void trackEvent(QString identifier, QVariantMap params);
    void loadingErrorChanged();
    void loadingStatusChanged();
    void invalidImages(QStringList invalidFiles);
};

// Runs a back end on a worker thread of its own, as the facade does: moved there and started.
// Destroys the back end on that thread's way out, then stops the thread.
class BackEndThread
{
public:
    explicit BackEndThread(PluginData *backEnd);
    ~BackEndThread();

    PluginData *backEnd() const { return m_backEnd; }
    QThread *thread() { return &m_thread; }

private:
    PluginData *m_backEnd;
    QThread m_thread;
};

// Forwards every application event to a back end's eventFilter, as the facade does; the back end
// itself may live on another thread, where Qt would not install it as a filter.
class EventForwarder : public QObject
{
    Q_OBJECT
public:
    explicit EventForwarder(PluginData *backEnd);
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    PluginData *m_backEnd;
};

// Records the types of the application events that get past the filters installed after it.
class EventObserver : public QObject
{
    Q_OBJECT
public:
    bool eventFilter(QObject *watched, QEvent *event) override;
    QList<int> seen;
};

namespace CliPluginTest {

// Writes a JPEG (quality 95) of the test pattern; true on success.
bool writeJpeg(const QString &path, int width, int height);
// An empty file, for tests that only need the name to exist.
bool touch(const QString &path);
// Points TMPDIR at `dir` so that temporary files and thumbnails stay in the test's own folder.
void useTempDir(const QString &dir);
// Gives up (false) or takes back (true) the calling thread's power to write where file permissions
// forbid it, so that a read-only folder is read-only for that thread even when tests run as root.
// True when the thread's capabilities are as asked.
bool setPermissionOverride(bool enabled);

} // namespace CliPluginTest

#endif // CLIPLUGINTESTSUPPORT_H
