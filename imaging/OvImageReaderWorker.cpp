#include "OvImageReaderWorker.h"

#include "ChannelOrder.h"
#include "ExifOrientation.h"
#include "imaging/FileProblem.h"
#include "ImageData.h"
#include "JpegCompleteness.h"
#include "OvExifToolMetadata.h"
#include "OvImageUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <opencv2/imgcodecs.hpp>

namespace {

QString failure(const QString &path, const QString &reason)
{
    return QStringLiteral("Cannot load %1: %2").arg(QDir::toNativeSeparators(path), reason);
}

// The pixels of the file in R, G, B(, A) order at their own depth; a reason when that fails.
QString decode(const QString &path, const QString &extension, cv::Mat &image)
{
    // The decoder would fill the missing part of a cut-off JPEG with grey and call it an image.
    if (!JpegCompleteness::isComplete(path))
        return QStringLiteral("the file is truncated: it ends before the image does");
    // UNCHANGED keeps 16-bit samples and alpha, and leaves the EXIF orientation to the caller.
    image = cv::imread(QFile::encodeName(path).toStdString(), cv::IMREAD_UNCHANGED);
    if (image.empty())
        return QStringLiteral("the file is corrupt or not a valid %1 image").arg(extension);
    if (image.depth() == CV_64F)
        image.convertTo(image, CV_32F);
    if (image.depth() != CV_8U && image.depth() != CV_16U && image.depth() != CV_32F)
        return QStringLiteral("its sample format is not supported");
    if (image.channels() == 2) {
        // Gray with alpha: ImageData knows gray or colour with alpha, so spread the gray.
        cv::Mat rgba(image.size(), CV_MAKETYPE(image.depth(), 4));
        const int fromTo[] = {0, 0, 0, 1, 0, 2, 1, 3};
        cv::mixChannels(&image, 1, &rgba, 1, fromTo, 4);
        image = rgba;
        return QString();
    }
    if (image.channels() != 1 && !ChannelOrder::swapRedBlueInPlace(image))
        return QStringLiteral("%1 channels are not supported").arg(image.channels());
    return QString();
}

} // namespace

OvImageReaderWorker::OvImageReaderWorker(QObject *parent)
    : QObject(parent)
{
}

OvImageReaderWorker::~OvImageReaderWorker() = default;

void OvImageReaderWorker::loadImage(const QString &path, const QVariantMap &metadata, QVariantMap options)
{
    Q_UNUSED(options)
    const QFileInfo info(path);
    const QString unreadable = FileProblem::describe(path);
    if (!unreadable.isEmpty()) {
        emit error(failure(path, unreadable));
        return;
    }
    const QString extension = info.suffix().toLower();
    if (!OvImageUtils::supportedFileFormats().contains(extension)) {
        emit error(failure(path, QStringLiteral("the format \"%1\" is not supported").arg(extension)));
        return;
    }

    emit statusChanged(QStringLiteral("Decoding image"));
    cv::Mat image;
    try {
        const QString problem = decode(path, extension, image);
        if (!problem.isEmpty()) {
            emit error(failure(path, problem));
            return;
        }
        const int orientation = OvExifToolMetadata(metadata).orientation();
        if (orientation != 1) {
            emit statusChanged(QStringLiteral("Rotating image"));
            image = ExifOrientation::upright(image, orientation);
        }
    } catch (const std::exception &e) {
        // Decoders throw on damaged streams, allocations on images too large for memory.
        emit error(
            failure(path, QStringLiteral("the file is corrupt or too large (%1)").arg(QString::fromUtf8(e.what()))));
        return;
    }

    QVariantMap description;
    description.insert(QStringLiteral("filepath"), path);
    description.insert(QStringLiteral("metadata"), metadata);
    description.insert(QStringLiteral("image"), QVariant::fromValue(std::make_shared<ImageData>(image, cv::Mat())));
    emit imageLoaded(description);
}
