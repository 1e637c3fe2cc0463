#ifndef IMAGELOADCHAIN_H
#define IMAGELOADCHAIN_H

#include <QString>
#include <QVariantMap>

class CLIPluginData;
class CLISharedState;
class OvExifTool;
class OvImageReaderWorker;
class QThread;

// The external-editor back end's loading of one file, stage by stage: metadata from the ExifTool
// wrapper, decoding by the reader on its own thread, a thumbnail file, then the description that
// the back end emits. Each stage is a signal of an imaging library, handled on the back end's
// thread; a newer request makes the results of an older one stale.
class ImageLoadChain
{
public:
    ImageLoadChain(CLIPluginData &backEnd, CLISharedState &shared);
    // Deletes the ExifTool wrapper, and the reader thread once it has ended.
    ~ImageLoadChain();

    ImageLoadChain(const ImageLoadChain &) = delete;
    ImageLoadChain &operator=(const ImageLoadChain &) = delete;

    // Moves the reader to its thread and connects it with the back end.
    void connectReader();
    void startReaderThread();
    // Quits the reader thread, terminating it when it does not end in time.
    void stopReaderThread();
    QThread *readerThread() const;

    void load(const QString &id);

private:
    OvExifTool *exifTool();
    void onMetadataRead(const QString &filePath, const QVariantMap &metadata);
    void onImageLoaded(const QVariantMap &imageData);
    bool needsNewThumbnail(const QString &thumbnailPath);
    bool requestThumbnail(const QString &thumbnailPath);
    void onThumbnailFinished(const QString &thumbnailPath);
    void endWithError(const QString &error);
    void setLoadingStatus(const QString &status);
    void setLoading(bool loading);

    CLIPluginData &m_backEnd;
    CLISharedState &m_shared;
    // Deleted through its thread's finished signal.
    OvImageReaderWorker *m_reader;
    QThread *m_readerThread;
    // Made at the first load, on the back end's thread.
    OvExifTool *m_exifTool = nullptr;
    QString m_currentFile;
    // The description being completed; kept until the next accepted one replaces it.
    QVariantMap m_pendingImage;
};

#endif // IMAGELOADCHAIN_H
