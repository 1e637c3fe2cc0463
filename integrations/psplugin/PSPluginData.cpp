#include "PSPluginData.h"

#include "PSHostTable.h"
#include "SharedMemoryChannel.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <cstdlib>
#include <cstring>

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
    paramChannel = new SharedMemoryChannel<IPCParams>(ParamChannelName, 0);
    for (int k = 0; k < 3; ++k)
        planeChannels[k] = new SharedMemoryChannel<uint16_t>(PlaneChannelNames[k], 0);

    // A param object too small for the record is as unusable as a missing one: nothing may be
    // written into it.
    if (paramChannel->open() != 0 || paramChannel->size() < sizeof(IPCParams)
        || paramChannel->mappedSize() < sizeof(IPCParams)) {
        qCritical() << "Failed to open shared memory for params";
        endProcess();
    }
    record = paramChannel->data();

    static const char *const planeMessages[3] = {"Failed to open shared memory for channel 0",
                                                 "Failed to open shared memory for channel 1",
                                                 "Failed to open shared memory for channel 2"};
    for (int k = 0; k < 3; ++k) {
        if (planeChannels[k]->open() != 0)
            reportFailure(planeMessages[k]);
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
        maskChannel = new SharedMemoryChannel<uint16_t>(MaskChannelName, 0);
        if (maskChannel->open() != 0)
            reportFailure("Failed to open shared memory for mask channel");
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
    checkIccGeometry(iccChannel.size(), iccChannel.mappedSize());
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

// The record comes from another program: its geometry is checked against what the channels
// really hold before any sample is touched, and a mismatch ends the run like a damaged guard.
void PSPluginData::checkPlaneGeometry()
{
    const uint64_t width = record->width;
    const uint64_t height = record->height;
    const uint64_t rowBytes = record->rowBytes;
    if (width == 0 || height == 0 || rowBytes < width * 2)
        reportFailure(VerifyFailMessage);
    const uint64_t needed = height * rowBytes;
    for (int k = 0; k < 3; ++k) {
        if (planeChannels[k]->size() < needed)
            reportFailure(VerifyFailMessage);
    }
    if (maskChannel && (maskChannel->size() < needed || maskChannel->mappedSize() < needed))
        reportFailure(VerifyFailMessage);
}

void PSPluginData::checkIccGeometry(uint64_t iccDataSize, uint64_t iccMappedSize)
{
    const int32_t size = record->iccProfileSize;
    if (size < 0 || static_cast<uint64_t>(size) > iccDataSize
        || static_cast<uint64_t>(size) > iccMappedSize)
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

void PSPluginData::loadImage(const QString &, bool)
{
}

void PSPluginData::saveImage(const std::shared_ptr<ImageData> &, const QString &, const QString &,
                             const QVariantMap &, const QVariantMap &)
{
}

QVariantMap PSPluginData::loadSettings(const QString &)
{
    return {};
}

void PSPluginData::saveSettings(const QString &, const QVariantMap &)
{
}

QString PSPluginData::minimizeFilterSettings(QVariantMap settings)
{
    return toCompactJson(settings);
}

QString PSPluginData::toCompactJson(const QVariantMap &map)
{
    return QString::fromUtf8(QJsonDocument(QJsonObject::fromVariantMap(map)).toJson(QJsonDocument::Compact));
}

QString PSPluginData::toCompactJson(const QVariantList &list)
{
    return QString::fromUtf8(QJsonDocument(QJsonArray::fromVariantList(list)).toJson(QJsonDocument::Compact));
}
