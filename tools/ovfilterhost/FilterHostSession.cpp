#include "FilterHostSession.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cstring>

const char *const FilterHostSession::ParamName = "__orvaneLumivex_param";
const char *const FilterHostSession::PlaneNames[3] = {"__orvaneLumivex_plane0", "__orvaneLumivex_plane1",
                                                      "__orvaneLumivex_plane2"};
const char *const FilterHostSession::MaskName = "__orvaneLumivex_mask";
const char *const FilterHostSession::IccName = "__orvaneLumivex_srcIcc";

namespace {

struct TextField
{
    const char *key;
    char *(*field)(IPCSettings *);
    std::size_t size;
};

const TextField TextFields[] = {
    {"Denoise", [](IPCSettings *s) { return s->denoiseSettings; }, IPCSettings::TextFieldSize},
    {"Sharpen", [](IPCSettings *s) { return s->sharpenSettings; }, IPCSettings::TextFieldSize},
    {"Enhance", [](IPCSettings *s) { return s->enhanceSettings; }, IPCSettings::TextFieldSize},
    {"Face Recovery", [](IPCSettings *s) { return s->faceRecoverySettings; }, IPCSettings::TextFieldSize},
    {"subjectSettings", [](IPCSettings *s) { return s->subjectSettings; }, IPCSettings::TextFieldSize},
    {"maskStrokes", [](IPCSettings *s) { return s->maskStrokes; }, IPCSettings::MaskStrokesSize},
};

QByteArray settingText(const QJsonValue &value)
{
    if (value.isObject())
        return QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
    if (value.isArray())
        return QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact);
    return value.toString().toUtf8();
}

} // namespace

FilterHostSession::FilterHostSession() = default;
FilterHostSession::~FilterHostSession() = default;

QStringList FilterHostSession::removeStaleChannels()
{
    QStringList removed;
    const char *const names[] = {ParamName, PlaneNames[0], PlaneNames[1], PlaneNames[2], MaskName, IccName};
    for (const char *name : names) {
        if (HostChannel::removeNamed(name))
            removed << QString::fromLatin1(name);
    }
    return removed;
}

bool FilterHostSession::create(const HostImage &image, const HostSetup &setup, QString *error)
{
    const uint64_t rowBytes = uint64_t(image.width) * 2 + setup.rowPadding;
    const uint64_t planeBytes = rowBytes * uint64_t(image.height);
    m_paramChannel = std::make_unique<HostChannel>(ParamName);
    if (!m_paramChannel->create(sizeof(IPCParams), error))
        return false;
    for (int k = 0; k < 3; ++k) {
        m_planeChannels[k] = std::make_unique<HostChannel>(PlaneNames[k]);
        if (!m_planeChannels[k]->create(planeBytes, error))
            return false;
    }
    if (!image.mask.empty()) {
        m_maskChannel = std::make_unique<HostChannel>(MaskName);
        if (!m_maskChannel->create(planeBytes, error))
            return false;
    }
    m_iccChannel = std::make_unique<HostChannel>(IccName);
    if (!m_iccChannel->create(uint64_t(setup.icc.size()), error))
        return false;

    // Like a real module: everything is filled while the locks are held, so the application
    // can never see a half-written record or plane.
    m_paramChannel->tryLock();
    for (auto &plane : m_planeChannels)
        plane->tryLock();
    if (m_maskChannel)
        m_maskChannel->tryLock();

    m_gray = image.gray;
    fillRecord(image, setup);
    if (!writeSettings(&record()->settings, setup.settings, error))
        return false;
    for (int k = 0; k < 3; ++k)
        writePlane(*m_planeChannels[k], image.planes[k]);
    if (m_maskChannel)
        writePlane(*m_maskChannel, image.mask);
    if (!setup.icc.isEmpty())
        std::memcpy(m_iccChannel->data(), setup.icc.constData(), std::size_t(setup.icc.size()));
    return true;
}

void FilterHostSession::fillRecord(const HostImage &image, const HostSetup &setup)
{
    IPCParams *r = record();
    r->runMode = setup.runMode;
    r->status = UntouchedStatus;
    const QByteArray process = setup.processName.toUtf8().left(IPCParams::HostProcessNameSize - 1);
    std::memcpy(r->hostProcessName, process.constData(), std::size_t(process.size()));
    // Stored as a little-endian word: the characters last to first.
    const QByteArray signature = setup.signature.toLatin1().leftJustified(4, ' ', true);
    for (int i = 0; i < 4; ++i)
        r->hostSignature[i] = signature[3 - i];
    r->hostVersionMajor = setup.versionMajor;
    r->hostVersionMinor = setup.versionMinor;
    r->hostVersionPatch = setup.versionPatch;
    r->width = uint32_t(image.width);
    r->height = uint32_t(image.height);
    r->rowBytes = uint32_t(image.width) * 2 + setup.rowPadding;
    r->hasMask = image.mask.empty() ? 0 : 1;
    r->grayscale = image.gray ? 1 : 0;
    r->iccProfileSize = int32_t(setup.icc.size());
}

void FilterHostSession::writePlane(HostChannel &channel, const cv::Mat &plane)
{
    const uint32_t rowBytes = record()->rowBytes;
    for (int y = 0; y < plane.rows; ++y)
        std::memcpy(channel.data() + std::size_t(y) * rowBytes, plane.ptr(y), std::size_t(plane.cols) * 2);
}

cv::Mat FilterHostSession::readPlane(const HostChannel &channel) const
{
    const IPCParams *r = record();
    cv::Mat plane(int(r->height), int(r->width), CV_16UC1);
    for (int y = 0; y < plane.rows; ++y)
        std::memcpy(plane.ptr(y), channel.data() + std::size_t(y) * r->rowBytes, std::size_t(plane.cols) * 2);
    return plane;
}

void FilterHostSession::releaseLocks()
{
    for (auto &plane : m_planeChannels)
        plane->unlock();
    if (m_maskChannel)
        m_maskChannel->unlock();
    m_paramChannel->unlock();
}

void FilterHostSession::removeAll()
{
    for (auto *channel : {m_paramChannel.get(), m_planeChannels[0].get(), m_planeChannels[1].get(),
                          m_planeChannels[2].get(), m_maskChannel.get(), m_iccChannel.get()}) {
        if (channel)
            channel->remove();
    }
}

IPCParams *FilterHostSession::record() const
{
    return reinterpret_cast<IPCParams *>(m_paramChannel->data());
}

HostImage FilterHostSession::readImage() const
{
    HostImage image;
    image.width = int(record()->width);
    image.height = int(record()->height);
    image.gray = m_gray;
    for (int k = 0; k < 3; ++k)
        image.planes[k] = readPlane(*m_planeChannels[k]);
    if (m_maskChannel)
        image.mask = readPlane(*m_maskChannel);
    return image;
}

QString FilterHostSession::hostErrorMessage() const
{
    const char *text = record()->errorMessage;
    return QString::fromUtf8(text, qsizetype(strnlen(text, IPCParams::ErrorMessageSize)));
}

QJsonObject FilterHostSession::readSettings() const
{
    IPCSettings *s = &record()->settings;
    QJsonObject json;
    json.insert(QStringLiteral("version"), s->settingsVersion);
    for (const TextField &f : TextFields) {
        const char *text = f.field(s);
        json.insert(QLatin1String(f.key), QString::fromUtf8(text, qsizetype(strnlen(text, f.size))));
    }
    json.insert(QStringLiteral("settingsWritten"), qint64(s->settingsWritten));
    return json;
}

bool FilterHostSession::writeSettings(IPCSettings *settings, const QJsonObject &json, QString *error)
{
    settings->settingsVersion = json.value(QStringLiteral("version")).toInt(0);
    for (const TextField &f : TextFields) {
        const QByteArray text = settingText(json.value(QLatin1String(f.key)));
        // A text that fills its field exactly is stored without NUL, as the reader allows.
        if (std::size_t(text.size()) > f.size) {
            *error = QStringLiteral("settings text for %1 is longer than its field (%2 bytes)")
                         .arg(QLatin1String(f.key))
                         .arg(f.size);
            return false;
        }
        char *field = f.field(settings);
        std::memset(field, 0, f.size);
        std::memcpy(field, text.constData(), std::size_t(text.size()));
    }
    return true;
}

void FilterHostSession::fillTextFields(IPCSettings *settings, char byte)
{
    for (const TextField &f : TextFields)
        std::memset(f.field(settings), byte, f.size);
}
