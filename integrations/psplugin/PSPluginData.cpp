#include "PSPluginData.h"

#include "ChannelQtLog.h"
#include "ChannelResult.h"
#include "PSHostTable.h"
#include "SharedMemoryChannel.h"
#include "SharedMemoryFaults.h"

#include "AtomicFileWriter.h"
#include "ImageDataKeys.h"
#include "PSPlaneTransfer.h"
#include "PSRecordCheck.h"
#include "PSSettingsExchange.h"
#include "TempFolder.h"
#include "imaging/ImageData.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

const char *const ParamChannelName = "__orvaneLumivex_param";
const char *const PlaneChannelNames[3] = {"__orvaneLumivex_plane0", "__orvaneLumivex_plane1", "__orvaneLumivex_plane2"};
const char *const MaskChannelName = "__orvaneLumivex_mask";
const char *const IccChannelName = "__orvaneLumivex_srcIcc";

const char *const PlaneOpenFailures[3] = {"Failed to open shared memory for channel 0",
                                          "Failed to open shared memory for channel 1",
                                          "Failed to open shared memory for channel 2"};
const char *const VerifyFailMessage = "IPC memory verify fail";

// Text fields of the record need not end with a NUL; nothing past the field may be read.
QString fromField(const char *field, std::size_t fieldSize)
{
    const void *nul = std::memchr(field, 0, fieldSize);
    const std::size_t length = nul ? static_cast<std::size_t>(static_cast<const char *>(nul) - field) : fieldSize;
    return QString::fromUtf8(field, static_cast<qsizetype>(length));
}

// The filter module learns of a fatal end only from the record and the exit code, so the log
// is flushed and the process ends without running any destructor or releasing any lock.
[[noreturn]] void endProcess()
{
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(FatalExitCode);
}

// The channels stay mapped until the process ends, past the back end's own life (closing one
// would remove the filter module's named objects). This list, never destroyed, keeps them
// reachable for that whole time, so that leak checkers see them as kept rather than lost.
template<typename Payload>
SharedMemoryChannel<Payload> *keptForProcess(SharedMemoryChannel<Payload> *channel)
{
    static auto *kept = new std::vector<const void *>;
    kept->push_back(channel);
    return channel;
}

// An open channel whose objects the filter module cuts short under us ends the run with a clear
// line rather than a bare bus error.
template<typename Payload>
void watchForTruncation(const SharedMemoryChannel<Payload> *channel)
{
    SharedMemoryFaults::watch(channel->data(), channel->mappedSize());
    SharedMemoryFaults::watch(channel->info(), ChannelInfoMinimumSize);
}

template<typename Payload>
void spinUntilLocked(SharedMemoryChannel<Payload> *channel)
{
    while (channel->tryLock() != ChannelOk) { }
}

// The depths that CvUtils::convert takes.
bool isConvertibleDepth(int depth)
{
    return depth == CV_8U || depth == CV_16U || depth == CV_32F || depth == CV_64F;
}

// Extremes over all four channels and the top left pixel, as the planes hold them and then
// cleared and scaled to [0, 1].
void logLoadedValues(const PlaneView &view, const PSPlaneTransfer::LoadExtremes &extremes)
{
    const uint16_t topLeft[4] = {view.planes[0][0], view.planes[1][0], view.planes[2][0],
                                 view.mask ? view.mask[0] : PSPlaneTransfer::HostMax};
    qDebug() << "loadingImage pre-process min" << double(extremes.readMin) << "max" << double(extremes.readMax);
    qDebug() << "top left" << topLeft[0] << topLeft[1] << topLeft[2] << topLeft[3];
    qDebug() << "loadingImage post-process min" << double(PSPlaneTransfer::scaledValue(extremes.clearedMin)) << "max"
             << double(PSPlaneTransfer::scaledValue(extremes.clearedMax));
    qDebug() << "top left" << PSPlaneTransfer::scaledValue(topLeft[0]) << PSPlaneTransfer::scaledValue(topLeft[1])
             << PSPlaneTransfer::scaledValue(topLeft[2]) << PSPlaneTransfer::scaledValue(topLeft[3]);
}

} // namespace

PSPluginData::PSPluginData()
    : PluginData()
{
    ChannelQtLog::install();
    m_paramChannel = keptForProcess(new SharedMemoryChannel<IPCParams>(ParamChannelName, 0));
    for (int k = 0; k < 3; ++k)
        m_planeChannels[k] = keptForProcess(new SharedMemoryChannel<uint16_t>(PlaneChannelNames[k], 0));

    // A param object too small for the record is as unusable as a missing one: nothing may be
    // written into it.
    if (m_paramChannel->open() != ChannelOk || m_paramChannel->size() < sizeof(IPCParams)
        || m_paramChannel->mappedSize() < sizeof(IPCParams)) {
        qCritical() << "Failed to open shared memory for params";
        endProcess();
    }
    m_record = m_paramChannel->data();
    watchForTruncation(m_paramChannel);

    for (int k = 0; k < 3; ++k) {
        if (m_planeChannels[k]->open() != ChannelOk)
            reportFailure(PlaneOpenFailures[k]);
        watchForTruncation(m_planeChannels[k]);
    }

    qInfo() << "Created IPCParams, waiting for lock.";
    spinUntilLocked(m_paramChannel);
    identifyHost();
}

PSPluginData::~PSPluginData() = default;

void PSPluginData::identifyHost()
{
    m_hostVersion = QStringLiteral("%1.%2.%3")
                        .arg(m_record->hostVersionMajor)
                        .arg(m_record->hostVersionMinor)
                        .arg(m_record->hostVersionPatch);
    m_hostSignature = PSHostTable::signatureFromRecord(m_record->hostSignature);
    m_hostProcessName = fromField(m_record->hostProcessName, sizeof(m_record->hostProcessName));
    m_hostDisplayName = PSHostTable::displayName(m_hostSignature, m_hostProcessName);
}

void PSPluginData::reportFailure(const char *message)
{
    m_record->status = StatusFailed;
    std::memset(m_record->errorMessage, 0, sizeof(m_record->errorMessage));
    std::strncpy(m_record->errorMessage, message, sizeof(m_record->errorMessage) - 1);
    qCritical() << message;
    endProcess();
}

void PSPluginData::start()
{
    Q_EMIT imagesAdded({m_hostDisplayName + QStringLiteral(" Image")}, false);

    if (m_record->hasMask != 0) {
        m_maskChannel = keptForProcess(new SharedMemoryChannel<uint16_t>(MaskChannelName, 0));
        if (m_maskChannel->open() != ChannelOk)
            reportFailure("Failed to open shared memory for mask channel");
        watchForTruncation(m_maskChannel);
        spinUntilLocked(m_maskChannel);
        m_maskData = m_maskChannel->data();
    } else {
        m_maskData = nullptr;
    }

    for (int k = 0; k < 3; ++k)
        spinUntilLocked(m_planeChannels[k]);
    for (int k = 0; k < 3; ++k)
        m_planeData[k] = m_planeChannels[k]->data();

    qInfo() << "Got PS image planar data!";

    checkPlaneGeometry();
    for (int k = 0; k < 3; ++k) {
        if (m_planeChannels[k]->verify() != ChannelOk)
            reportFailure(VerifyFailMessage);
    }

    SharedMemoryChannel<char> iccChannel(IccChannelName, 0);
    if (iccChannel.open() != ChannelOk)
        reportFailure("Failed to open shared memory for ICC profile");
    checkIccGeometry(iccChannel.mappedSize());
    if (m_record->iccProfileSize != 0)
        m_iccProfile = QByteArray(iccChannel.data(), m_record->iccProfileSize);

    std::memcpy(&m_settingsCopy, &m_record->settings, sizeof(IPCSettings));

    qInfo() << "Finished loading data from PS";

    Q_EMIT trackEvent(QStringLiteral("Plugin Host Info"), {{QStringLiteral("signature"), m_hostSignature},
                                                           {QStringLiteral("version"), m_hostVersion},
                                                           {QStringLiteral("processName"), m_hostProcessName}});
    // iccChannel goes out of scope here; its close() removes the srcIcc objects.
}

// A geometry that the channels cannot hold ends the run like a damaged guard.
void PSPluginData::checkPlaneGeometry()
{
    const uint64_t planeBytes[3] = {m_planeChannels[0]->size(), m_planeChannels[1]->size(), m_planeChannels[2]->size()};
    const uint64_t maskBytes = m_maskChannel ? std::min(m_maskChannel->size(), m_maskChannel->mappedSize()) : 0;
    if (!PSRecordCheck::planesFit(*m_record, planeBytes, m_maskChannel ? &maskBytes : nullptr))
        reportFailure(VerifyFailMessage);
}

// The profile's length is the record's word alone; the ICC channel's own payload size is not
// consulted, so a module that sizes that channel differently still hands its profile over. Only
// bytes that are not mapped at all refuse the run.
void PSPluginData::checkIccGeometry(uint64_t iccMappedSize)
{
    const int32_t size = m_record->iccProfileSize;
    if (size < 0 || static_cast<uint64_t>(size) > iccMappedSize)
        reportFailure(VerifyFailMessage);
}

void PSPluginData::cleanup()
{
    if (m_finished)
        return;
    m_finished = true;
    if (m_planeData[0]) {
        for (int k = 0; k < 3; ++k)
            m_planeChannels[k]->unlock();
        if (m_maskChannel)
            m_maskChannel->unlock();
    }
    if (!m_imageWasSaved.load())
        m_record->status = StatusNoImageSaved;
    m_paramChannel->unlock();
}

QString PSPluginData::getMergableInstanceKey() const
{
    return m_record->runMode != 0 ? QStringLiteral("PhotoShopFilter") : QStringLiteral("PhotoShopFilterSilent");
}

QString PSPluginData::getPluginDisplayName() const
{
    return m_hostDisplayName;
}

bool PSPluginData::isResizingSupported() const
{
    return false;
}

bool PSPluginData::isSilent() const
{
    return m_record->runMode == 0;
}

bool PSPluginData::isLoading() const
{
    return m_loading.load();
}

bool PSPluginData::canMergeInstance() const
{
    return false;
}

QSize PSPluginData::imageSize(const QString &)
{
    return QSize(static_cast<int>(m_record->width), static_cast<int>(m_record->height));
}

void PSPluginData::loadImage(const QString &id, bool)
{
    if (!m_cachedImageData.isEmpty())
        Q_EMIT imageLoaded(id, m_cachedImageData);
    qDebug() << "QImage PSPluginData::loadImage()"
             << "grayscale:" << int(m_record->grayscale) << "alpha:" << (m_maskData != nullptr);
    m_loading = true;
    Q_EMIT isLoadingChanged(true);

    const PlaneView view = planeView(m_record->grayscale != 0);
    const bool logValues = QLoggingCategory::defaultCategory()->isDebugEnabled();
    PSPlaneTransfer::LoadExtremes extremes;
    const cv::Mat converted = PSPlaneTransfer::load(view, logValues ? &extremes : nullptr);
    if (logValues)
        logLoadedValues(view, extremes);
    describeImage(m_cachedImageData, m_record, m_iccProfile, m_hostDisplayName, converted);
    Q_EMIT imageLoaded(id, m_cachedImageData);
    m_loading = false;
    Q_EMIT isLoadingChanged(false);
}

// The keys are set one by one on the back end's description, which is never cleared: a later
// load overwrites the same keys. The thumbnail is written before the description goes out.
void PSPluginData::describeImage(QVariantMap &cachedImageData, const IPCParams *record, const QByteArray &iccProfile,
                                 const QString &hostDisplayName, const cv::Mat &converted)
{
    QVariantMap metadata;
    metadata.insert(QStringLiteral("EXIF:SamplesPerPixel"), record->grayscale != 0 ? 1 : 3);
    if (record->iccProfileSize != 0)
        metadata.insert(QStringLiteral("ICC_Profile:ICC_Profile"), iccProfile);

    auto image = std::make_shared<ImageData>(converted, cv::Mat());
    const QString thumbnailPath = TempFolder::filePath(QStringLiteral("thumbnail-orlx-ps-plugin.png"));

    cachedImageData.insert(ImageDataKeys::Thumbnail, thumbnailPath);
    cachedImageData.insert(ImageDataKeys::Image, QVariant::fromValue(image));
    cachedImageData.insert(QStringLiteral("uid"), QStringLiteral("psplugin image"));
    cachedImageData.insert(ImageDataKeys::FilePath, hostDisplayName + QStringLiteral(" Image"));
    cachedImageData.insert(ImageDataKeys::Metadata, metadata);
    cachedImageData.insert(QStringLiteral("colorInfo"),
                           QVariantMap{{QStringLiteral("grayscale"), int(record->grayscale)}});

    writeThumbnail(converted, thumbnailPath);
}

// A gray image is loaded from plane 0 alone; a save writes all three planes in any case.
PlaneView PSPluginData::planeView(bool grayFromPlane0) const
{
    PlaneView view;
    view.width = m_record->width;
    view.height = m_record->height;
    view.rowBytes = m_record->rowBytes;
    for (int k = 0; k < 3; ++k)
        view.planes[k] = grayFromPlane0 ? m_planeData[0] : m_planeData[k];
    view.mask = m_maskData;
    return view;
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
    if (width <= 0 || height <= 0 || path.isEmpty())
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
    if (!fitsTheHost(image))
        return;
    // Every image goes through fullMat: the imaging library decides what the host receives
    // with and without alpha, and the channel count it answers with is the one checked below.
    const cv::Mat current = image->mat();
    const cv::Mat source = image->fullMat(m_maskData != nullptr);
    if (!writeFullMatrix(current, source))
        return;
    const int channels = source.channels();
    if ((channels == 4 && !m_maskData) || (channels == 3 && m_maskData))
        reportChannelMismatch(channels);

    m_record->status = StatusImageSaved;
    m_imageWasSaved = true;
    Q_EMIT imageSaved(outputPath);
}

bool PSPluginData::fitsTheHost(const std::shared_ptr<ImageData> &image) const
{
    if (!image) {
        qCritical() << "Image pointer is null, cannot save image";
        return false;
    }
    qDebug() << "PSPluginData::saveImage, image size:" << image->size();
    if (image->size().isEmpty()) {
        qCritical() << "Cannot save empty image";
        return false;
    }
    if (uint32_t(image->width()) != m_record->width || uint32_t(image->height()) != m_record->height) {
        qCritical() << "Cannot save image with new dimensions" << image->width() << image->height();
        return false;
    }
    return true;
}

// The pre-process values are those of the image's own pixels: looked up before the write, or
// noted by the write itself when the full matrix is those very pixels.
bool PSPluginData::writeFullMatrix(const cv::Mat &current, const cv::Mat &source)
{
    const bool sameMatrix = source.data == current.data;
    const bool logValues = QLoggingCategory::defaultCategory()->isDebugEnabled();
    if (logValues && !sameMatrix) {
        double sourceMin, sourceMax;
        cv::minMaxIdx(current, &sourceMin, &sourceMax);
        qDebug() << "saveImage pre-process min" << sourceMin << "max" << sourceMax;
    }
    if (!fullMatrixFits(source))
        return false;
    PSPlaneTransfer::SaveExtremes extremes;
    PSPlaneTransfer::save(source, source.channels(), planeView(false), m_maskData != nullptr,
                          logValues ? &extremes : nullptr);
    if (logValues) {
        if (sameMatrix)
            qDebug() << "saveImage pre-process min" << extremes.readMin << "max" << extremes.readMax;
        qDebug() << "saveImage post-process min" << extremes.writtenMin << "max" << extremes.writtenMax;
    }
    return true;
}

bool PSPluginData::fullMatrixFits(const cv::Mat &source) const
{
    const int channels = source.empty() ? 0 : source.channels();
    if (channels < 3 || !isConvertibleDepth(source.depth())) {
        reportChannelMismatch(channels);
        return false;
    }
    // The copy walks the host's geometry through the full matrix, so a library that answered
    // with another size would have pixels read from outside it.
    if (uint32_t(source.cols) != m_record->width || uint32_t(source.rows) != m_record->height) {
        qCritical() << "Cannot save image with new dimensions" << source.cols << source.rows;
        return false;
    }
    return true;
}

void PSPluginData::reportChannelMismatch(int channels) const
{
    if (m_maskData)
        qCritical() << "Mat channels and alpha pointer don't match up."
                    << "Have" << channels << "channels and alpha pointer is"
                    << "not"
                    << "null";
    else
        qCritical() << "Mat channels and alpha pointer don't match up."
                    << "Have" << channels << "channels and alpha pointer is"
                    << "null";
}

QVariantMap PSPluginData::loadSettings(const QString &)
{
    return PSSettingsExchange::read(m_settingsCopy, m_record->runMode);
}

void PSPluginData::saveSettings(const QString &, const QVariantMap &settings)
{
    qInfo() << "Saving settings to PS";
    PSSettingsExchange::write(settings, m_settingsCopy);
    std::memcpy(&m_record->settings, &m_settingsCopy, sizeof(IPCSettings));
}
