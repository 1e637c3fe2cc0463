#include "OvImageReaderWorker.h"

#include "ChannelOrder.h"
#include "ExifOrientation.h"
#include "ImageData.h"
#include "OvExifToolMetadata.h"
#include "OvImageUtils.h"

#include <QFile>
#include <QDir>
#include <QFileInfo>

#include <opencv2/imgcodecs.hpp>

namespace {

QString failure(const QString &path, const QString &reason)
{
    return QStringLiteral("Cannot load %1: %2").arg(QDir::toNativeSeparators(path), reason);
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
    if (!info.isFile()) {
        emit error(failure(path, QStringLiteral("the file does not exist")));
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
        // UNCHANGED keeps 16-bit samples and alpha, and leaves the EXIF orientation to us.
        image = cv::imread(QFile::encodeName(path).toStdString(), cv::IMREAD_UNCHANGED);
    } catch (const cv::Exception &e) {
        emit error(failure(path, QStringLiteral("the file is corrupt (%1)").arg(QString::fromUtf8(e.what()))));
        return;
    }
    if (image.empty()) {
        emit error(failure(path, QStringLiteral("the file is corrupt or not a valid %1 image").arg(extension)));
        return;
    }
    if (image.depth() == CV_64F)
        image.convertTo(image, CV_32F);
    if (image.depth() != CV_8U && image.depth() != CV_16U && image.depth() != CV_32F) {
        emit error(failure(path, QStringLiteral("its sample format is not supported")));
        return;
    }
    if (image.channels() != 1 && !ChannelOrder::swapRedBlueInPlace(image)) {
        emit error(failure(path, QStringLiteral("%1 channels are not supported").arg(image.channels())));
        return;
    }

    const int orientation = OvExifToolMetadata(metadata).orientation();
    if (orientation != 1) {
        emit statusChanged(QStringLiteral("Rotating image"));
        image = ExifOrientation::upright(image, orientation);
    }

    QVariantMap description;
    description.insert(QStringLiteral("filepath"), path);
    description.insert(QStringLiteral("metadata"), metadata);
    description.insert(QStringLiteral("image"),
                       QVariant::fromValue(std::make_shared<ImageData>(image, cv::Mat())));
    emit imageLoaded(description);
}
