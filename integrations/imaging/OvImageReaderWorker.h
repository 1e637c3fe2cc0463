#ifndef OVIMAGEREADERWORKER_H
#define OVIMAGEREADERWORKER_H

#include "OvImagingGlobal.h"

#include <QObject>
#include <QString>
#include <QVariantMap>

/// Decodes image files; lives on a thread of its own. Every loadImage ends with exactly one
/// imageLoaded or error, after any number of statusChanged.
///
/// \par Threads
/// loadImage() runs, and emits its signals, on the thread that calls it: the worker's own thread
/// when it is reached through a queued connection, as the external-editor back end does (its
/// reader thread). Connect to the signals with queued connections from other threads.
class OV_IMAGEIO_EXPORT OvImageReaderWorker : public QObject
{
    Q_OBJECT
public:
    /// Makes the worker; move it to its thread afterwards.
    /// \param parent the `QObject` parent, or null (required for moving it to another thread).
    explicit OvImageReaderWorker(QObject *parent = nullptr);
    /// Destroys the worker; nothing of a load outlives loadImage().
    ~OvImageReaderWorker() override;

public Q_SLOTS:
    /// Decodes \p path into an ImageData, turned upright by the EXIF orientation in \p metadata
    /// (OvExifToolMetadata::orientation()).
    ///
    /// The samples keep their depth (8-bit, 16-bit or float; 64-bit float becomes 32-bit) and their
    /// alpha, in R, G, B(, A) order; gray stays one channel, gray with alpha becomes four channels. A
    /// file that cannot be read, whose extension is not one of OvImageUtils::supportedFileFormats(),
    /// or that does not decode ends with error() instead.
    /// \param path the file.
    /// \param metadata the file's metadata as OvExifTool::readFinished() gave it; returned in the
    ///        description.
    /// \param options not used.
    /// \thread The calling thread, normally the worker's own.
    /// \emits statusChanged() ("Decoding image", and "Rotating image" when it turns the image), then
    ///        imageLoaded() or error(), all before it returns.
    void loadImage(const QString &path, const QVariantMap &metadata, QVariantMap options);

Q_SIGNALS:
    /// "filepath" (the requested path), "metadata" (the map passed in) and "image"
    /// (`std::shared_ptr<ImageData>`), upright according to the EXIF orientation.
    /// \param imageData the description of the decoded image.
    void imageLoaded(QVariantMap imageData);
    /// The load failed.
    /// \param message a sentence for the user that names the file and the cause.
    void error(const QString &message);
    /// A progress text of the load, for the user.
    /// \param status the text.
    void statusChanged(const QString &status);
};

#endif // OVIMAGEREADERWORKER_H
