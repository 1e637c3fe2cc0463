#include "OvIntegrations.h"

#include "ImageDataKeys.h"
#include "PluginData.h"
#include "ThreadStop.h"
#include "cliplugin/CLIPluginData.h"
#include "psplugin/PSPluginData.h"

#include <QApplication>

#include <vector>

namespace {

// The filter module puts this in place of the program name; nothing else selects filter-host mode.
const QString FilterMarker = QStringLiteral("Orvane_Lumivex_PS_Plugin");

constexpr ThreadStop::Messages WorkerThreadStop{
    "Stopping OvIntegrations worker thread",
    "OvIntegrations worker thread stopped",
    "OvIntegrations thread timed out. Attempting to terminate.",
    "OvIntegrations thread terminated",
    "OvIntegrations thread could not terminate in time. Time to crash.",
};

// The facade never destroys its back end, which so lives until the process ends; this list,
// never destroyed itself, keeps it reachable for that time, so leak checkers see it as kept.
void keepForProcess(PluginData *backEnd)
{
    static auto *kept = new std::vector<PluginData *>;
    kept->push_back(backEnd);
}

} // namespace

OvIntegrations::OvIntegrations(QStringList args)
    : QObject(nullptr)
    , m_workerThread(nullptr)
{
    if (!args.isEmpty() && args.at(0) == FilterMarker) {
        m_pluginType = PSFilter;
        // Returns only once the filter module has let go of the param lock.
        m_backEnd = new PSPluginData();
    } else {
        m_pluginType = CLI;
        m_backEnd = new CLIPluginData(args);
    }
    keepForProcess(m_backEnd);
    m_backEnd->moveToThread(&m_workerThread);
    connectBackEnd();
}

OvIntegrations::~OvIntegrations()
{
    ThreadStop::stop(m_workerThread, WorkerThreadStop);
}

void OvIntegrations::connectBackEnd()
{
    // The back end's event loop is over by the time `finished` is emitted, so this queued call
    // is never delivered; the back end lives until the process ends.
    connect(&m_workerThread, &QThread::finished, m_backEnd, &QObject::deleteLater, Qt::QueuedConnection);

    connect(this, &OvIntegrations::mergeInstance, m_backEnd, &PluginData::mergeInstance, Qt::QueuedConnection);
    connect(this, &OvIntegrations::loadImage, m_backEnd, &PluginData::loadImage, Qt::QueuedConnection);
    connect(this, &OvIntegrations::saveImage, m_backEnd, &PluginData::saveImage, Qt::QueuedConnection);
    // The caller relies on the settings being stored by the time its emit returns.
    connect(this, &OvIntegrations::saveSettings, m_backEnd, &PluginData::saveSettings, Qt::DirectConnection);

    connect(m_backEnd, &PluginData::isPluginModeChanged, this, &OvIntegrations::isPluginModeChanged,
            Qt::AutoConnection);
    connect(m_backEnd, &PluginData::isLoadingChanged, this, &OvIntegrations::loadingChanged, Qt::AutoConnection);
    connect(m_backEnd, &PluginData::imageSaved, this, &OvIntegrations::pluginImageSaved, Qt::QueuedConnection);
    connect(m_backEnd, &PluginData::imageLoaded, this, &OvIntegrations::handleImageLoaded, Qt::QueuedConnection);
    connect(m_backEnd, &PluginData::imagesAdded, this, &OvIntegrations::pluginImagesAdded, Qt::QueuedConnection);
    connect(m_backEnd, &PluginData::imageSavingProgress, this, &OvIntegrations::pluginImageSavingProgress,
            Qt::QueuedConnection);
    connect(m_backEnd, &PluginData::imageSavingError, this, &OvIntegrations::pluginImageSavingError,
            Qt::QueuedConnection);
    connect(m_backEnd, &PluginData::trackEvent, this, &OvIntegrations::trackEvent, Qt::QueuedConnection);
    connect(m_backEnd, &PluginData::loadingErrorChanged, this, &OvIntegrations::loadingErrorChanged,
            Qt::QueuedConnection);
    connect(m_backEnd, &PluginData::loadingStatusChanged, this, &OvIntegrations::loadingStatusChanged,
            Qt::QueuedConnection);
    connect(m_backEnd, &PluginData::invalidImages, this, &OvIntegrations::invalidImages, Qt::QueuedConnection);
}

void OvIntegrations::setup(QApplication *app, OvIntercom *intercom)
{
    m_backEnd->setup(app, intercom);
    if (app)
        app->installEventFilter(this);
}

void OvIntegrations::start()
{
    m_workerThread.start(QThread::InheritPriority);
    m_backEnd->start();
}

void OvIntegrations::cleanup()
{
    m_backEnd->cleanup();
}

bool OvIntegrations::eventFilter(QObject *watched, QEvent *event)
{
    return m_backEnd->eventFilter(watched, event);
}

QString OvIntegrations::getDataForMerging() const
{
    return m_backEnd->getDataForMerging();
}

bool OvIntegrations::canMergeInstance() const
{
    return m_backEnd->canMergeInstance();
}

bool OvIntegrations::isPluginMode() const
{
    return m_backEnd->isPluginMode();
}

OvIntegrations::PluginType OvIntegrations::pluginType() const
{
    return m_pluginType;
}

bool OvIntegrations::loading() const
{
    return m_backEnd->isLoading();
}

QString OvIntegrations::loadingError() const
{
    return m_backEnd->loadingError();
}

QString OvIntegrations::loadingStatus() const
{
    return m_backEnd->loadingStatus();
}

QString OvIntegrations::mergableInstanceKey() const
{
    return m_backEnd->getMergableInstanceKey();
}

QString OvIntegrations::pluginDisplayName() const
{
    return m_backEnd->getPluginDisplayName();
}

bool OvIntegrations::resizingSupported() const
{
    return m_backEnd->isResizingSupported();
}

bool OvIntegrations::isSilent() const
{
    return m_backEnd->isSilent();
}

const QVariantMap &OvIntegrations::imagedata() const
{
    return m_imagedata;
}

QVariantMap OvIntegrations::loadSettings(const QString &id)
{
    return m_backEnd->loadSettings(id);
}

QSize OvIntegrations::imageSize(const QString &id)
{
    return m_backEnd->imageSize(id);
}

void OvIntegrations::setCropRect(QRectF cropRoi)
{
    auto image = m_imagedata.value(ImageDataKeys::Image).value<std::shared_ptr<ImageData>>();
    applyCrop(image, cropRoi);
    if (m_imagedata.contains(ImageDataKeys::RawImage)) {
        auto rawImage = m_imagedata.value(ImageDataKeys::RawImage).value<std::shared_ptr<ImageData>>();
        applyCrop(rawImage, cropRoi);
    }
    emit imagedataChanged();
}

void OvIntegrations::applyCrop(std::shared_ptr<ImageData> &image, QRectF rect)
{
    if (!image)
        return;
    if (rect.isEmpty())
        rect = QRectF(0, 0, 1, 1);
    image->crop(rect);
}

void OvIntegrations::handleImageLoaded(const QString &id, const QVariantMap &imageData)
{
    emit pluginImageLoaded(id, imageData);
    // Handlers of pluginImageLoaded still see the previous description on purpose.
    if (id == m_currentImage) {
        m_imagedata = imageData;
        emit imagedataChanged();
    }
}
