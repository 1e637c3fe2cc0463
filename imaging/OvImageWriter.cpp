#include "OvImageWriter.h"

#include "ChannelOrder.h"
#include "CvUtils.h"
#include "AtomicFileWriter.h"
#include "MetadataCopier.h"
#include "OvImageUtils.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <functional>
#include <utility>
#include <vector>

namespace {

constexpr int DefaultQuality = 95;

struct Encoding
{
    bool alpha = false; // the format stores an alpha channel
    bool deep = false; // the format stores 16-bit samples
    std::vector<int> params;
};

Encoding encodingFor(const QString &extension, const QVariantMap &saveOptions)
{
    const int quality = saveOptions.value(QStringLiteral("quality"), DefaultQuality).toInt();
    Encoding encoding;
    if (extension == QLatin1String("jpg") || extension == QLatin1String("jpeg")) {
        encoding.params = {cv::IMWRITE_JPEG_QUALITY, quality};
    } else if (extension == QLatin1String("webp")) {
        encoding.alpha = true;
        encoding.params = {cv::IMWRITE_WEBP_QUALITY, quality};
    } else if (extension == QLatin1String("png") || extension == QLatin1String("tif")
               || extension == QLatin1String("tiff")) {
        encoding.alpha = true;
        encoding.deep = true;
    }
    return encoding;
}

// The pixels as the encoder wants them: blue first, in a depth and channel count the format
// stores. The shared image is only read; reordering and dropping alpha share one pass.
cv::Mat encoderPixels(const ImageData &image, const Encoding &encoding)
{
    const cv::Mat region = image.mat();
    const bool dropAlpha = region.channels() == 4 && !encoding.alpha;
    int depth = region.depth();
    if (depth == CV_32F || (depth == CV_16U && !encoding.deep))
        depth = encoding.deep ? CV_16U : CV_8U;

    cv::Mat pixels = depth == region.depth() ? region : CvUtils::convert(region, depth);
    if (pixels.channels() == 1)
        return pixels;
    if (pixels.data == region.data || dropAlpha) {
        // Still the shared image, or fewer channels: reorder into a buffer of our own.
        const int code = dropAlpha                ? cv::COLOR_RGBA2BGR
                         : pixels.channels() == 4 ? cv::COLOR_RGBA2BGRA
                                                  : cv::COLOR_RGB2BGR;
        cv::Mat result;
        cv::cvtColor(pixels, result, code);
        return result;
    }
    ChannelOrder::swapRedBlueInPlace(pixels);
    return pixels;
}

// A link at the output path stands for the photo it names: that file is the one replaced.
QString resolvedTarget(const QString &outputPath)
{
    const QFileInfo output(outputPath);
    if (!output.isSymLink())
        return output.absoluteFilePath();
    const QString canonical = output.canonicalFilePath();
    return canonical.isEmpty() ? output.symLinkTarget() : canonical;
}

// A save that was killed between creating its temporary file and renaming it leaves that file
// behind. Those made before this save began are such leftovers (a save still running in another
// process keeps touching its own), so a completed save clears them away. The names are matched
// by hand: a name filter would run a regular expression on the saving thread, and Qt keeps a
// thread_local stack for those whose destructor, with MinGW's thread runtime, can fault as the
// thread ends and leave the process unable to exit.
void removeStaleTemporaries(const QString &target, const QString &extension, const QDateTime &saveStarted)
{
    const QFileInfo info(target);
    const QString prefix = QLatin1Char('.') + info.completeBaseName() + QLatin1Char('.');
    const QString suffix = QLatin1Char('.') + extension;
    const QFileInfoList entries = info.dir().entryInfoList(QDir::Files | QDir::Hidden);
    for (const QFileInfo &entry : entries) {
        const QString name = entry.fileName();
        // Six: the XXXXXX that the temporary file's name template ends in.
        const bool leftover =
            name.size() == prefix.size() + 6 + suffix.size() && name.startsWith(prefix) && name.endsWith(suffix);
        if (leftover && entry.lastModified() < saveStarted)
            QFile::remove(entry.filePath());
    }
}

// A new file gets the usual permissions of a document; a replaced one keeps its own.
constexpr QFileDevice::Permissions NewFilePermissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                        | QFileDevice::ReadUser | QFileDevice::WriteUser
                                                        | QFileDevice::ReadGroup | QFileDevice::ReadOther;

using Progress = std::function<void(float)>;

// Why a save cannot begin; empty when it can.
QString refusalFor(const std::shared_ptr<ImageData> &image, const QString &outputPath, const QString &extension)
{
    if (!image || image->size().isEmpty())
        return QStringLiteral("the image is empty");
    if (!OvImageUtils::supportedFileFormats().contains(extension))
        return QStringLiteral("the format \"%1\" is not supported").arg(extension);
    if (!QFileInfo(QFileInfo(outputPath).absolutePath()).isDir())
        return QStringLiteral("the folder does not exist");
    return QString();
}

// The whole file in memory; empty, with `reason` set, when the encoder fails.
std::vector<uchar> encode(const ImageData &image, const QString &extension, const QVariantMap &saveOptions,
                          const Progress &progress, QString *reason)
{
    const Encoding encoding = encodingFor(extension, saveOptions);
    std::vector<uchar> encoded;
    try {
        const cv::Mat pixels = encoderPixels(image, encoding);
        progress(0.3f);
        if (!cv::imencode("." + extension.toStdString(), pixels, encoded, encoding.params))
            encoded.clear();
    } catch (const std::exception &e) {
        qWarning() << "OvImageWriter: encoding failed" << e.what();
        encoded.clear();
    }
    if (encoded.empty())
        *reason = QStringLiteral("the image could not be encoded as %1").arg(extension);
    return encoded;
}

// Writes the file beside the target, gives it the source's metadata and puts it in place of
// the target, so that the output path never shows a half-written file. Why it failed, or empty.
QString replaceTarget(std::vector<uchar> encoded, const QString &inputPath, const QString &target,
                      const QString &extension, const Progress &progress)
{
    const QDateTime saveStarted = QDateTime::currentDateTime();
    AtomicFileWriter file(target, extension);
    file.setNewFilePermissions(NewFilePermissions);
    if (!file.open() || !file.write(reinterpret_cast<const char *>(encoded.data()), qint64(encoded.size()))
        || !file.close())
        return file.errorString();
    std::vector<uchar>().swap(encoded); // the copy of a large image is not held through the rest
    progress(0.6f);

    // A result without the photo's metadata must not replace the photo.
    QString metadataError;
    if (MetadataCopier::copy(inputPath, file.temporaryPath(), &metadataError) == MetadataCopier::Result::Failed)
        return metadataError;
    progress(0.8f);

    if (!file.commit())
        return file.errorString();
    removeStaleTemporaries(target, extension, saveStarted);
    return QString();
}

} // namespace

OvImageWriter::OvImageWriter(QObject *parent)
    : QObject(parent)
{
}

OvImageWriter::~OvImageWriter() = default;

void OvImageWriter::saveImage(const std::shared_ptr<ImageData> &image, const QString &inputPath,
                              const QString &outputPath, const QVariantMap &imageData, const QVariantMap &saveOptions)
{
    Q_UNUSED(imageData)
    emit writeProgress(outputPath, 0.0f);
    const Progress progress = [this, &outputPath](float value) { emit writeProgress(outputPath, value); };
    const QString extension = QFileInfo(outputPath).suffix().toLower();
    const QString target = resolvedTarget(outputPath);
    QString reason = refusalFor(image, outputPath, extension);
    std::vector<uchar> encoded;
    if (reason.isEmpty())
        encoded = encode(*image, extension, saveOptions, progress, &reason);
    if (reason.isEmpty())
        reason = replaceTarget(std::move(encoded), inputPath, target, extension, progress);
    if (!reason.isEmpty()) {
        emit errorSaving(outputPath,
                         QStringLiteral("Cannot save %1: %2").arg(QDir::toNativeSeparators(outputPath), reason));
        return;
    }
    const qint64 size = QFileInfo(target).size();
    emit writeProgress(outputPath, 1.0f);
    emit imageSaved(outputPath, size);
}
