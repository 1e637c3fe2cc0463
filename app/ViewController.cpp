#include "ViewController.h"

#include "ImageOperation.h"
#include "ImagePreviewProvider.h"
#include "OvIntegrations.h"
#include "SaveTarget.h"

#include <QFileInfo>
#include <QUrl>
#include <QtConcurrent/QtConcurrentRun>

namespace {

// Large enough for a full-screen window, small enough to convert without a pause.
constexpr int PreviewMaxSide = 1600;

} // namespace

ViewController::ViewController(OvIntegrations *integrations, ImagePreviewProvider *provider, QObject *parent)
    : QObject(parent)
    , m_integrations(integrations)
    , m_provider(provider)
{
    connect(integrations, &OvIntegrations::pluginImagesAdded, this, &ViewController::onImagesAdded);
    connect(integrations, &OvIntegrations::invalidImages, this, &ViewController::onInvalidImages);
    connect(integrations, &OvIntegrations::pluginImageLoaded, this, &ViewController::onImageLoaded);
    connect(integrations, &OvIntegrations::imagedataChanged, this, &ViewController::onImagedataChanged);
    connect(integrations, &OvIntegrations::pluginImageSaved, this, &ViewController::onSaved);
    connect(integrations, &OvIntegrations::pluginImageSavingError, this, &ViewController::onSavingError);
    connect(&m_rendering, &QFutureWatcher<Rendition>::finished, this, &ViewController::onRenderFinished);
}

ViewController::~ViewController()
{
    m_rendering.waitForFinished();
}

QVariantList ViewController::images() const
{
    QVariantList list;
    for (const QString &id : m_ids)
        list << m_entries.value(id);
    return list;
}

QStringList ViewController::rejected() const
{
    return m_rejected;
}

QString ViewController::previewUrl() const
{
    return m_working ? QStringLiteral("image://lumivex/preview/%1").arg(m_revision) : QString();
}

bool ViewController::hasImage() const
{
    return m_working != nullptr;
}

QString ViewController::imageSizeText() const
{
    return m_working ? QStringLiteral("%1 × %2").arg(m_working->width()).arg(m_working->height()) : QString();
}

bool ViewController::enhanced() const
{
    return m_enhanced;
}

bool ViewController::busy() const
{
    // Not the future's own state: that turns false on the pool thread before the result has
    // reached this thread and the screen.
    return m_busy;
}

QString ViewController::message() const
{
    return m_message;
}

QString ViewController::modeText() const
{
    if (m_integrations->pluginType() == OvIntegrations::PSFilter)
        return QStringLiteral("Filter host: %1").arg(m_integrations->pluginDisplayName());
    if (m_integrations->isPluginMode())
        return QStringLiteral("External editor: %1").arg(m_integrations->pluginDisplayName());
    return QStringLiteral("Stand-alone");
}

bool ViewController::filterHost() const
{
    return m_integrations->pluginType() == OvIntegrations::PSFilter;
}

std::shared_ptr<ImageData> ViewController::workingImage() const
{
    return m_working;
}

void ViewController::open(const QString &id)
{
    if (!m_ids.contains(id))
        return;
    m_integrations->setProperty("currentImage", id);
    m_enhanced = false;
    m_crop = QRectF(0, 0, 1, 1);
    show(nullptr, QImage());
    setMessage(QString());
    emit m_integrations->loadImage(id);
}

void ViewController::enhance()
{
    if (!loadedImage())
        return;
    m_enhanced = true;
    render();
}

void ViewController::revert()
{
    m_enhanced = false;
    render();
}

void ViewController::crop(qreal x, qreal y, qreal width, qreal height)
{
    if (!loadedImage() || width <= 0 || height <= 0)
        return;
    // The library crops relative to the full image; the selection is relative to what is shown.
    m_crop = QRectF(m_crop.x() + x * m_crop.width(), m_crop.y() + y * m_crop.height(), width * m_crop.width(),
                    height * m_crop.height())
                 .intersected(QRectF(0, 0, 1, 1));
    m_integrations->setCropRect(m_crop);
}

void ViewController::resetCrop()
{
    m_crop = QRectF(0, 0, 1, 1);
    m_integrations->setCropRect(QRectF());
}

void ViewController::save()
{
    if (!m_working || busy())
        return;
    const QString id = m_integrations->property("currentImage").toString();
    setMessage(tr("Saving…"));
    emit m_integrations->saveImage(m_working, id, SaveTarget::outputPath(m_integrations, id),
                                   m_integrations->imagedata(), QVariantMap());
}

void ViewController::onImagesAdded(const QStringList &ids, bool mergingInstance)
{
    for (const QString &id : ids) {
        if (!m_ids.contains(id))
            m_ids << id;
        QVariantMap entry = m_entries.value(id);
        entry.insert(QStringLiteral("id"), id);
        entry.insert(QStringLiteral("name"), QFileInfo(id).fileName());
        entry.insert(QStringLiteral("merged"), mergingInstance);
        if (!entry.contains(QStringLiteral("thumbnail")))
            entry.insert(QStringLiteral("thumbnail"), QString());
        m_entries.insert(id, entry);
    }
    emit imagesChanged();
    if (m_integrations->property("currentImage").toString().isEmpty() && !ids.isEmpty())
        open(ids.first());
}

void ViewController::onInvalidImages(const QStringList &files)
{
    m_rejected << files;
    emit rejectedChanged();
}

void ViewController::onImageLoaded(const QString &id, const QVariantMap &imageData)
{
    const QString thumbnail = imageData.value(QStringLiteral("thumbnail")).toString();
    if (m_entries.contains(id) && !thumbnail.isEmpty()) {
        m_entries[id].insert(QStringLiteral("thumbnail"), QUrl::fromLocalFile(thumbnail).toString());
        emit imagesChanged();
    }
}

void ViewController::onImagedataChanged()
{
    render();
}

void ViewController::onSaved(const QString &outputPath)
{
    setMessage(tr("Saved %1").arg(outputPath));
    if (m_integrations->pluginType() == OvIntegrations::PSFilter)
        emit deliveredToHost();
}

void ViewController::onSavingError(const QString &outputPath, const QString &error)
{
    setMessage(tr("Could not save %1: %2").arg(outputPath, error));
}

void ViewController::render()
{
    if (m_busy) {
        m_renderAgain = true;
        return;
    }
    const auto source = loadedImage();
    if (!source) {
        show(nullptr, QImage());
        return;
    }
    // Even the plain picture is converted off the GUI thread: a camera frame takes a while.
    const ImageOperation::Kind kind = m_enhanced ? ImageOperation::Enhance : ImageOperation::Identity;
    m_busy = true;
    m_rendering.setFuture(QtConcurrent::run([source, kind] {
        const auto result = ImageOperation::apply(kind, source);
        return Rendition{source, result, ImagePreviewProvider::fromImageData(*result, PreviewMaxSide)};
    }));
    emit busyChanged();
}

void ViewController::onRenderFinished()
{
    m_busy = false;
    const Rendition rendition = m_rendering.result();
    // The source changed (a crop, another image, enhance or revert) while the pool thread
    // worked on the old state: that result is stale.
    if (m_renderAgain || rendition.source != loadedImage()) {
        m_renderAgain = false;
        render();
        return;
    }
    show(rendition.image, rendition.preview);
    emit busyChanged();
}

void ViewController::show(const std::shared_ptr<ImageData> &image, const QImage &preview)
{
    m_working = image;
    m_provider->setPreview(preview);
    ++m_revision;
    emit previewChanged();
}

void ViewController::setMessage(const QString &text)
{
    if (text == m_message)
        return;
    m_message = text;
    emit messageChanged();
}

std::shared_ptr<ImageData> ViewController::loadedImage() const
{
    return m_integrations->imagedata().value(QStringLiteral("image")).value<std::shared_ptr<ImageData>>();
}
