#include "PSPluginData.h"

#include "ChannelQtLog.h"
#include "PSHostTable.h"
#include "SharedMemoryChannel.h"
#include "SharedMemoryFaults.h"

#include "AtomicFileWriter.h"
#include "ImageDataKeys.h"
#include "PSPlaneTransfer.h"
#include "PSRecordCheck.h"
#include "PSSettingsExchange.h"
#include "imaging/ImageData.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QStandardPaths>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

const char *const ParamChannelName = "__orvaneLumivex_param";
const char *const PlaneChannelNames[3] = {"__orvaneLumivex_plane0", "__orvaneLumivex_plane1",
                                          "__orvaneLumivex_plane2"};
const char *const MaskChannelName = "__orvaneLumivex_mask";
const char *const IccChannelName = "__orvaneLumivex_srcIcc";

const char *const VerifyFailMessage = "IPC memory verify fail";

// Text fields of the record need not end with a NUL; nothing past the field may be read.
QString fromField(const char *field, std::size_t fieldSize)
{
    const void *nul = std::memchr(field, 0, fieldSize);
    const std::size_t length = nul ? static_cast<std::size_t>(static_cast<const char *>(nul) - field)
                                   : fieldSize;
    return QString::fromUtf8(field, static_cast<qsizetype>(length));
}

// The filter module learns of a fatal end only from the record and the exit code, so the log
// is flushed and the process ends without running any destructor or releasing any lock.
[[noreturn]] void endProcess()
{
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(-1);
}

// The channels stay mapped until the process ends, past the back end's own life (closing one
// would remove the filter module's named objects). This list, never destroyed, keeps them
// reachable for that whole time, so that leak checkers see them as kept rather than lost.
template <typename Payload>
SharedMemoryChannel<Payload> *keptForProcess(SharedMemoryChannel<Payload> *channel)
{
    static auto *kept = new std::vector<const void *>;
    kept->push_back(channel);
    return channel;
}

// An open channel whose objects the filter module cuts short under us ends the run with a clear
// line rather than a bare bus error.
template <typename Payload>
void watchForTruncation(const SharedMemoryChannel<Payload> *channel)
{
    SharedMemoryFaults::watch(channel->data(), channel->mappedSize());
    SharedMemoryFaults::watch(channel->info(), ChannelInfoMinimumSize);
}

template <typename Payload>
void spinUntilLocked(SharedMemoryChannel<Payload> *channel)
{
    while (channel->tryLock() != 0) {
    }
}

} // namespace

PSPluginData::PSPluginData()
    : PluginData()
{
    ChannelQtLog::install();
    paramChannel = keptForProcess(new SharedMemoryChannel<IPCParams>(ParamChannelName, 0));
    for (int k = 0; k < 3; ++k)
        planeChannels[k] = keptForProcess(new SharedMemoryChannel<uint16_t>(PlaneChannelNames[k], 0));

    // A param object too small for the record is as unusable as a missing one: nothing may be
    // written into it.
    if (paramChannel->open() != 0 || paramChannel->size() < sizeof(IPCParams)
        || paramChannel->mappedSize() < sizeof(IPCParams)) {
        qCritical() << "Failed to open shared memory for params";
        endProcess();
    }
    record = paramChannel->data();
    watchForTruncation(paramChannel);

    static const char *const planeMessages[3] = {"Failed to open shared memory for channel 0",
                                                 "Failed to open shared memory for channel 1",
                                                 "Failed to open shared memory for channel 2"};
    for (int k = 0; k < 3; ++k) {
        if (planeChannels[k]->open() != 0)
            reportFailure(planeMessages[k]);
        watchForTruncation(planeChannels[k]);
    }

    qInfo() << "Created IPCParams, waiting for lock.";
    spinUntilLocked(paramChannel);
    identifyHost();
}

PSPluginData::~PSPluginData() = default;

void PSPluginData::identifyHost()
{
    hostVersion = QStringLiteral("%1.%2.%3")
                      .arg(record->hostVersionMajor)
                      .arg(record->hostVersionMinor)
                      .arg(record->hostVersionPatch);
    hostSignature = PSHostTable::signatureFromRecord(record->hostSignature);
    hostProcessName = fromField(record->hostProcessName, sizeof(record->hostProcessName));
    hostDisplayName = PSHostTable::displayName(hostSignature, hostProcessName);
}

void PSPluginData::reportFailure(const char *message)
{
    record->status = 2;
    std::memset(record->errorMessage, 0, sizeof(record->errorMessage));
    std::strncpy(record->errorMessage, message, sizeof(record->errorMessage) - 1);
    qCritical() << message;
    endProcess();
}

void PSPluginData::start()
{
    Q_EMIT imagesAdded({hostDisplayName + QStringLiteral(" Image")}, false);

    if (record->hasMask != 0) {
        maskChannel = keptForProcess(new SharedMemoryChannel<uint16_t>(MaskChannelName, 0));
        if (maskChannel->open() != 0)
            reportFailure("Failed to open shared memory for mask channel");
        watchForTruncation(maskChannel);
        spinUntilLocked(maskChannel);
        maskData = maskChannel->data();
    } else {
        maskData = nullptr;
    }

    for (int k = 0; k < 3; ++k)
        spinUntilLocked(planeChannels[k]);
    for (int k = 0; k < 3; ++k)
        planeData[k] = planeChannels[k]->data();

    qInfo() << "Got PS image planar data!";

    checkPlaneGeometry();
    for (int k = 0; k < 3; ++k) {
        if (planeChannels[k]->verify() != 0)
            reportFailure(VerifyFailMessage);
    }

    SharedMemoryChannel<char> iccChannel(IccChannelName, 0);
    if (iccChannel.open() != 0)
        reportFailure("Failed to open shared memory for ICC profile");
    checkIccGeometry(iccChannel.mappedSize());
    if (record->iccProfileSize != 0)
        iccProfile = QByteArray(iccChannel.data(), record->iccProfileSize);

    std::memcpy(&settingsCopy, &record->settings, sizeof(IPCSettings));

    qInfo() << "Finished loading data from PS";

    Q_EMIT trackEvent(QStringLiteral("Plugin Host Info"),
                      {{QStringLiteral("signature"), hostSignature},
                       {QStringLiteral("version"), hostVersion},
                       {QStringLiteral("processName"), hostProcessName}});
    // iccChannel goes out of scope here; its close() removes the srcIcc objects.
}

// A geometry that the channels cannot hold ends the run like a damaged guard.
void PSPluginData::checkPlaneGeometry()
{
    const uint64_t planeBytes[3] = {planeChannels[0]->size(), planeChannels[1]->size(), planeChannels[2]->size()};
    const uint64_t maskBytes = maskChannel ? std::min(maskChannel->size(), maskChannel->mappedSize()) : 0;
    if (!PSRecordCheck::planesFit(*record, planeBytes, maskChannel ? &maskBytes : nullptr))
        reportFailure(VerifyFailMessage);
}

// The profile's length is the record's word alone; the ICC channel's own payload size is not
// consulted, so a module that sizes that channel differently still hands its profile over. Only
// bytes that are not mapped at all refuse the run.
void PSPluginData::checkIccGeometry(uint64_t iccMappedSize)
{
    const int32_t size = record->iccProfileSize;
    if (size < 0 || static_cast<uint64_t>(size) > iccMappedSize)
        reportFailure(VerifyFailMessage);
}

void PSPluginData::cleanup()
{
    if (finished)
        return;
    finished = true;
    if (planeData[0]) {
        for (int k = 0; k < 3; ++k)
            planeChannels[k]->unlock();
        if (maskChannel)
            maskChannel->unlock();
    }
    if (!imageWasSaved.load())
        record->status = 1;
    paramChannel->unlock();
}

QString PSPluginData::getMergableInstanceKey() const
{
    return record->runMode != 0 ? QStringLiteral("PhotoShopFilter") : QStringLiteral("PhotoShopFilterSilent");
}

QString PSPluginData::getPluginDisplayName() const
{
    return hostDisplayName;
}

bool PSPluginData::isResizingSupported() const
{
    return false;
}

bool PSPluginData::isSilent() const
{
    return record->runMode == 0;
}

bool PSPluginData::isLoading() const
{
    return loading.load();
}

bool PSPluginData::canMergeInstance() const
{
    return false;
}

QSize PSPluginData::imageSize(const QString &)
{
    return QSize(static_cast<int>(record->width), static_cast<int>(record->height));
}

void PSPluginData::loadImage(const QString &id, bool)
{
    if (!cachedImageData.isEmpty())
        Q_EMIT imageLoaded(id, cachedImageData);
    qDebug() << "QImage PSPluginData::loadImage()" << "grayscale:" << int(record->grayscale) << "alpha:"
             << (maskData != nullptr);
    loading = true;
    Q_EMIT isLoadingChanged(true);

    PlaneView view;
    view.width = record->width;
    view.height = record->height;
    view.rowBytes = record->rowBytes;
    for (int k = 0; k < 3; ++k)
        view.planes[k] = record->grayscale != 0 ? planeData[0] : planeData[k];
    view.mask = maskData;

    const bool logValues = QLoggingCategory::defaultCategory()->isDebugEnabled();
    PSPlaneTransfer::LoadStatistics values;
    cv::Mat converted = PSPlaneTransfer::load(view, logValues ? &values : nullptr);
    if (logValues) {
        qDebug() << "loadingImage pre-process min" << double(values.rawMin) << "max" << double(values.rawMax);
        qDebug() << "top left" << values.rawTopLeft[0] << values.rawTopLeft[1] << values.rawTopLeft[2]
                 << values.rawTopLeft[3];
        qDebug() << "loadingImage post-process min" << double(values.scaledMin) << "max" << double(values.scaledMax);
        qDebug() << "top left" << values.scaledTopLeft[0] << values.scaledTopLeft[1] << values.scaledTopLeft[2]
                 << values.scaledTopLeft[3];
    }

    QVariantMap metadata;
    metadata.insert(QStringLiteral("EXIF:SamplesPerPixel"), record->grayscale != 0 ? 1 : 3);
    if (record->iccProfileSize != 0)
        metadata.insert(QStringLiteral("ICC_Profile:ICC_Profile"), iccProfile);

    auto image = std::make_shared<ImageData>(converted, cv::Mat());
    const QString thumbnailPath =
        QDir(QStandardPaths::writableLocation(QStandardPaths::TempLocation)).filePath(QStringLiteral("thumbnail-orlx-ps-plugin.png"));
    writeThumbnail(converted, thumbnailPath);

    cachedImageData.insert(ImageDataKeys::Thumbnail, thumbnailPath);
    cachedImageData.insert(ImageDataKeys::Image, QVariant::fromValue(image));
    cachedImageData.insert(QStringLiteral("uid"), QStringLiteral("psplugin image"));
    cachedImageData.insert(ImageDataKeys::FilePath, hostDisplayName + QStringLiteral(" Image"));
    cachedImageData.insert(ImageDataKeys::Metadata, metadata);
    cachedImageData.insert(QStringLiteral("colorInfo"), QVariantMap{{QStringLiteral("grayscale"), int(record->grayscale)}});

    Q_EMIT imageLoaded(id, cachedImageData);
    loading = false;
    Q_EMIT isLoadingChanged(false);
}

// The short side becomes 200 pixels. Bilinear sampling at this reduction reads only a few
// source pixels, so the converted 16-bit image serves as source instead of a float copy of the
// whole picture; the result differs from a float source by far less than one 8-bit step.
// ImageData::imwrite writes the file under a new, hidden name beside the target that ends in
// ".png" (the encoder goes by the suffix); the file is then renamed over the target, so that a
// reader never sees a half-written thumbnail and a link planted at the name is not followed.
// A strip a few pixels wide from the host would ask for a thumbnail of billions of pixels (a
// 1 x 100000 image gives 200 x 20000000); such a thumbnail is not made, like a failed write,
// rather than letting the allocation take the process down.
void PSPluginData::writeThumbnail(const cv::Mat &converted, const QString &path)
{
    constexpr int64_t MaxThumbnailPixels = 16 * 1024 * 1024;
    const int64_t width = converted.cols;
    const int64_t height = converted.rows;
    if (width <= 0 || height <= 0)
        return;
    const int64_t longSide = height > width ? height * 200 / width : width * 200 / height;
    if (longSide * 200 > MaxThumbnailPixels) {
        qWarning() << "Thumbnail not made: a" << width << "x" << height << "image would give" << longSide
                   << "pixels on its long side";
        QFile::remove(path); // an earlier run's thumbnail would show another picture
        return;
    }
    const cv::Size size = height > width ? cv::Size(200, int(longSide)) : cv::Size(int(longSide), 200);
    cv::Mat small;
    cv::resize(converted, small, size, 0, 0, cv::INTER_LINEAR);
    cv::Mat thumbnail;
    small.convertTo(thumbnail, CV_32F, 1.0 / 65535.0);

    AtomicFileWriter file(path);
    if (!file.open() || !file.close() || !ImageData::imwrite(file.temporaryPath(), thumbnail) || !file.commit())
        QFile::remove(path); // like a thumbnail not made: an earlier one would show another picture
}

void PSPluginData::saveImage(const std::shared_ptr<ImageData> &image, const QString &, const QString &outputPath,
                             const QVariantMap &, const QVariantMap &)
{
    if (!image) {
        qCritical() << "Image pointer is null, cannot save image";
        return;
    }
    qDebug() << "PSPluginData::saveImage, image size:" << image->size();
    if (image->size().isEmpty()) {
        qCritical() << "Cannot save empty image";
        return;
    }
    if (uint32_t(image->width()) != record->width || uint32_t(image->height()) != record->height) {
        qCritical() << "Cannot save image with new dimensions" << image->width() << image->height();
        return;
    }

    PlaneView view;
    view.width = record->width;
    view.height = record->height;
    view.rowBytes = record->rowBytes;
    for (int k = 0; k < 3; ++k)
        view.planes[k] = planeData[k];
    view.mask = maskData;

    // Every image goes through fullMat: the imaging library decides what the host receives
    // with and without alpha, and the channel count it answers with is the one checked below.
    const cv::Mat current = image->mat();
    const bool alpha = maskData != nullptr;
    const cv::Mat source = image->fullMat(alpha);
    const int channels = source.empty() ? 0 : source.channels();
    const bool sameMatrix = source.data == current.data;
    const bool knownDepth = source.depth() == CV_8U || source.depth() == CV_16U || source.depth() == CV_32F
                         || source.depth() == CV_64F;

    const bool logValues = QLoggingCategory::defaultCategory()->isDebugEnabled();
    PSPlaneTransfer::SaveStatistics values;
    if (logValues && !sameMatrix) {
        cv::minMaxIdx(current, &values.sourceMin, &values.sourceMax);
        qDebug() << "saveImage pre-process min" << values.sourceMin << "max" << values.sourceMax;
    }
    if (channels < 3 || !knownDepth) {
        reportChannelMismatch(channels);
        return;
    }
    // The copy walks the host's geometry through the full matrix, so a library that answered
    // with another size would have pixels read from outside it.
    if (uint32_t(source.cols) != record->width || uint32_t(source.rows) != record->height) {
        qCritical() << "Cannot save image with new dimensions" << source.cols << source.rows;
        return;
    }
    PSPlaneTransfer::save(source, channels, view, alpha, logValues ? &values : nullptr);
    if (logValues) {
        if (sameMatrix)
            qDebug() << "saveImage pre-process min" << values.sourceMin << "max" << values.sourceMax;
        qDebug() << "saveImage post-process min" << values.writtenMin << "max" << values.writtenMax;
    }
    if ((channels == 4 && !alpha) || (channels == 3 && alpha))
        reportChannelMismatch(channels);

    record->status = 0;
    imageWasSaved = true;
    Q_EMIT imageSaved(outputPath);
}

void PSPluginData::reportChannelMismatch(int channels) const
{
    if (maskData)
        qCritical() << "Mat channels and alpha pointer don't match up." << "Have" << channels
                    << "channels and alpha pointer is" << "not" << "null";
    else
        qCritical() << "Mat channels and alpha pointer don't match up." << "Have" << channels
                    << "channels and alpha pointer is" << "null";
}

QVariantMap PSPluginData::loadSettings(const QString &)
{
    return PSSettingsExchange::read(settingsCopy, record->runMode);
}

void PSPluginData::saveSettings(const QString &, const QVariantMap &settings)
{
    qInfo() << "Saving settings to PS";
    PSSettingsExchange::write(settings, settingsCopy);
    std::memcpy(&record->settings, &settingsCopy, sizeof(IPCSettings));
}
