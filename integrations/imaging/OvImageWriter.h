#ifndef OVIMAGEWRITER_H
#define OVIMAGEWRITER_H

#include "OvImagingGlobal.h"
#include "ImageData.h"

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <memory>

/// Writes images synchronously on the caller's thread. The output format follows the output
/// path's extension; the result replaces the output file atomically, and the source's metadata
/// is carried over.
///
/// \par Threads
/// saveImage() emits every signal on the calling thread before it returns; the external-editor
/// back end calls it on the facade's worker thread.
class OV_IMAGEIO_EXPORT OvImageWriter : public QObject
{
    Q_OBJECT
public:
    /// Makes the writer.
    /// \param parent the `QObject` parent, or null.
    explicit OvImageWriter(QObject *parent = nullptr);
    /// Destroys the writer.
    ~OvImageWriter() override;

    /// Writes the current region of \p image (its crop) to \p outputPath.
    ///
    /// The format is that of the extension of \p outputPath, one of
    /// OvImageUtils::supportedFileFormats(): JPEG in 8 bits without alpha, WebP in 8 bits with
    /// alpha, PNG and TIFF in 16 bits with alpha, BMP in 8 bits without alpha; 8-bit images stay 8
    /// bits. The encoded file is written beside the target under a temporary name, given the
    /// metadata of \p inputPath (EXIF, XMP, IPTC, ICC profile, with the orientation reset to 1, since
    /// the pixels are upright) and renamed over the target, so that \p outputPath never shows a
    /// half-written file. When \p outputPath is a symbolic link, the file it names is replaced. A
    /// replaced file keeps its permissions; a file made read-only (no owner write permission, or
    /// the read-only attribute) is refused and left as it is. Without ExifTool the result is saved
    /// without the metadata; when ExifTool fails to write it, writes without end or has not
    /// finished within 30 s, the save fails and the target stays as it was.
    /// \param image the image; a null or empty one is refused.
    /// \param inputPath the source file whose metadata the result receives; empty for none.
    /// \param outputPath the file to write; its folder must exist.
    /// \param imageData the image's description; not used.
    /// \param saveOptions "quality" for JPEG and WebP (default 95); nothing else is read.
    /// \thread The calling thread.
    /// \emits writeProgress() from 0 to 1, then imageSaved(); on failure errorSaving() after the
    ///        progress reached so far. All before it returns.
    void saveImage(const std::shared_ptr<ImageData> &image, const QString &inputPath, const QString &outputPath,
                   const QVariantMap &imageData, const QVariantMap &saveOptions);

Q_SIGNALS:
    /// Progress of the save of \p outputPath.
    /// \param outputPath the path as saveImage() was given it.
    /// \param progress the fraction done: 0 at the start, 1 just before imageSaved().
    void writeProgress(const QString &outputPath, float progress);
    /// The file is in place.
    /// \param outputPath the path as saveImage() was given it.
    /// \param bytesWritten the size of the file written, in bytes.
    void imageSaved(const QString &outputPath, qint64 bytesWritten);
    /// The save failed; the file at \p outputPath is as it was before.
    /// \param outputPath the path as saveImage() was given it.
    /// \param error a sentence for the user that names the file and the cause.
    void errorSaving(const QString &outputPath, const QString &error);
};

#endif // OVIMAGEWRITER_H
