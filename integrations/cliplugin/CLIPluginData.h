#ifndef CLIPLUGINDATA_H
#define CLIPLUGINDATA_H

#include "PluginData.h"
#include "imaging/ImageData.h"
#include "imaging/OvImageUtils.h"

#include <QMutex>
#include <QSet>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QVariantMap>

#include <memory>

class QApplication;
class QDropEvent;
class QEvent;
class QFileOpenEvent;
class OvExifTool;
class OvImageReaderWorker;
class OvImageWriter;
class OvIntercom;

// The back end of every launch that is not a filter-host run: the application works as the
// external editor of the program that started it (or stand-alone when there is none).
//
// Threads: constructed on the GUI thread, then moved to the facade's worker thread. The GUI thread
// (start, event filter, queries) and the worker thread (loading, saving, merging) share the file
// lists, the editor names and the loading state, so all of them sit behind m_mutex. Signals are
// always emitted after the mutex has been released: a direct connection may call straight back
// into a query.
class CLIPluginData : public PluginData
{
    Q_OBJECT
public:
    explicit CLIPluginData(const QStringList &args);
    ~CLIPluginData() override;

    bool eventFilter(QObject *watched, QEvent *event) override;

    void loadImage(const QString &id, bool isExportingRaw) override;
    void saveImage(const std::shared_ptr<ImageData> &image, const QString &inputPath,
                   const QString &outputPath, const QVariantMap &imageData,
                   const QVariantMap &saveOptions) override;
    QVariantMap loadSettings(const QString &id) override;
    void saveSettings(const QString &id, const QVariantMap &settings) override;
    QString getMergableInstanceKey() const override;
    QString getPluginDisplayName() const override;
    bool isResizingSupported() const override;
    bool isSilent() const override;
    bool isPluginMode() const override;
    bool isLoading() const override;
    QString loadingError() const override;
    QString loadingStatus() const override;
    QString getDataForMerging() override;
    void mergeInstance(const QString &data) override;
    QSize imageSize(const QString &id) override;

    void setup(QApplication *app, OvIntercom *intercom) override;
    void start() override;

    // The list of launchers that merely open files and are no editors, matched on the whole
    // executable name ignoring case.
    static const QStringList &knownNonEditors();

Q_SIGNALS:
    // Carries a load request over to the reader thread.
    void startLoadImage(QString filePath, QVariantMap metadata, QVariantMap options);

private:
    void addFile(const QString &path);
    void addDirectory(const QString &dir);
    quint32 parentProcessId();
    void detectExternalEditor();
    void announceFiles(bool mergingInstance);
    void sendInfoEvent();

    bool handleFileOpen(QFileOpenEvent *event);
    bool handleDrop(QDropEvent *event);
    void addDroppedImage(const QVariant &imageData);
    void redetectAndNotify();

    OvExifTool *exifTool();
    void onMetadataRead(const QString &filePath, const QVariantMap &metadata);
    void onImageLoaded(const QVariantMap &imageData);
    void onThumbnailFinished(const QString &thumbnailPath);
    void onReaderError(const QString &error);
    void setLoadingStatus(const QString &status);
    void setLoading(bool loading);
    void failLoad(const QString &error);
    QString thumbnailPathFor(const QString &sourcePath) const;

    void onImageSaved(const QString &outputPath, qint64 bytesWritten);
    QString applePhotosTarget(const QString &outputPath) const;
    QString forcedEditor() const;

    quint64 m_parentPid = 0;
    QString m_forcedEditor;
    QString m_externalEditor;
    QString m_processName;
    QStringList m_files;
    QStringList m_invalidFiles;
    QString m_currentFile;
    QString m_loadingError;
    QString m_loadingStatus;
    QString m_saveInputPath;
    QVariantMap m_pendingImage;
    qint32 m_fileCount = 0;
    bool m_loading = false;
    bool m_started = false;
    bool m_infoSent = false;
    OvImageReaderWorker *m_reader = nullptr;
    QThread *m_readerThread = nullptr;
    OvImageWriter *m_writer = nullptr;
    OvExifTool *m_exifTool = nullptr;
    OvIntercom *m_intercom = nullptr;
    OvImageUtils m_imageUtils;
    QStringList m_supportedFormats;

    // Beside m_files so that a folder of many thousand files is accepted in linear time.
    QSet<QString> m_fileSet;
    mutable QMutex m_mutex;
};

#endif // CLIPLUGINDATA_H
