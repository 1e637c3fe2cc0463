#ifndef HEADLESSRUN_H
#define HEADLESSRUN_H

#include "ImageOperation.h"

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>

class OvIntegrations;

// --auto: takes every announced image through load, operation and save, one after another, then
// cleans up and reports the exit code. A request that gets no answer in time counts as failed
// (a filter host answers a refused save with silence).
class HeadlessRun : public QObject
{
    Q_OBJECT
public:
    HeadlessRun(OvIntegrations *integrations, ImageOperation::Kind operation, QObject *parent = nullptr);

    // Call right after OvIntegrations::start(): the announcements of start() are already queued,
    // so an empty queue seen after them means there is nothing to do.
    void begin();
    void setStepTimeout(int milliseconds);
    // The library passes over a named file that is missing or cannot be read without a word;
    // a batch run names each such file with its reason and counts it as failed. Call before
    // begin() with the files named on the command line.
    void checkNamedFiles(const QStringList &paths);

Q_SIGNALS:
    void finished(int exitCode);

private:
    void onImagesAdded(const QStringList &ids);
    void onInvalidImages(const QStringList &files);
    bool alreadyReported(const QString &path) const;
    void checkAnnounced();
    void next();
    void onImageLoaded(const QString &id, const QVariantMap &imageData);
    void onLoadingError();
    void storeSettings(const QString &id);
    void onSaved(const QString &outputPath);
    void onSavingError(const QString &outputPath, const QString &error);
    void onTimeout();
    void fail(const QString &message);
    void finish();

    OvIntegrations *m_integrations;
    ImageOperation::Kind m_operation;
    QStringList m_queue;
    QString m_current;
    QTimer m_timeout;
    int m_saved = 0;
    QStringList m_failures;
    bool m_finished = false;
    QStringList m_reported; // absolute paths already named as failed
};

#endif // HEADLESSRUN_H
