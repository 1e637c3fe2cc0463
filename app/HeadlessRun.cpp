#include "HeadlessRun.h"

#include "Console.h"
#include "imaging/FileProblem.h"
#include "OvIntegrations.h"
#include "SaveTarget.h"
#include "SignalPrinter.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

constexpr int DefaultStepTimeoutMs = 120000;

QVariantMap jsonObject(const QVariant &text)
{
    return QJsonDocument::fromJson(text.toString().toUtf8()).object().toVariantMap();
}

QVariantList jsonArray(const QVariant &text)
{
    return QJsonDocument::fromJson(text.toString().toUtf8()).array().toVariantList();
}

} // namespace

HeadlessRun::HeadlessRun(OvIntegrations *integrations, ImageOperation::Kind operation, QObject *parent)
    : QObject(parent)
    , m_integrations(integrations)
    , m_operation(operation)
{
    m_timeout.setSingleShot(true);
    m_timeout.setInterval(DefaultStepTimeoutMs);
    connect(&m_timeout, &QTimer::timeout, this, &HeadlessRun::onTimeout);
    connect(integrations, &OvIntegrations::pluginImagesAdded, this, &HeadlessRun::onImagesAdded);
    connect(integrations, &OvIntegrations::invalidImages, this, &HeadlessRun::onInvalidImages);
    connect(integrations, &OvIntegrations::pluginImageLoaded, this, &HeadlessRun::onImageLoaded);
    connect(integrations, &OvIntegrations::loadingErrorChanged, this, &HeadlessRun::onLoadingError);
    connect(integrations, &OvIntegrations::pluginImageSaved, this, &HeadlessRun::onSaved);
    connect(integrations, &OvIntegrations::pluginImageSavingError, this, &HeadlessRun::onSavingError);
}

void HeadlessRun::setStepTimeout(int milliseconds)
{
    m_timeout.setInterval(milliseconds);
}

void HeadlessRun::begin()
{
    Console::line(QStringLiteral("auto run operation=%1 %2")
                      .arg(ImageOperation::name(m_operation), SignalPrinter::describe(m_integrations)));
    QMetaObject::invokeMethod(this, &HeadlessRun::checkAnnounced, Qt::QueuedConnection);
}

void HeadlessRun::checkNamedFiles(const QStringList &paths)
{
    for (const QString &path : paths) {
        const QString problem = FileProblem::describe(path);
        if (problem.isEmpty())
            continue;
        m_reported << QFileInfo(path).absoluteFilePath();
        fail(QStringLiteral("cannot open %1: %2").arg(Console::quoted(path), problem));
    }
}

bool HeadlessRun::alreadyReported(const QString &path) const
{
    return m_reported.contains(QFileInfo(path).absoluteFilePath());
}

void HeadlessRun::checkAnnounced()
{
    if (m_current.isEmpty() && m_queue.isEmpty() && !m_finished) {
        if (m_failures.isEmpty())
            Console::line(QStringLiteral("no images to process"));
        finish();
    }
}

void HeadlessRun::onImagesAdded(const QStringList &ids)
{
    for (const QString &id : ids) {
        if (!alreadyReported(id))
            m_queue << id;
    }
    if (m_current.isEmpty())
        next();
}

void HeadlessRun::onInvalidImages(const QStringList &files)
{
    for (const QString &file : files) {
        if (!alreadyReported(file))
            fail(QStringLiteral("cannot open %1").arg(Console::quoted(file)));
    }
}

void HeadlessRun::next()
{
    if (m_finished)
        return;
    m_current.clear();
    if (m_queue.isEmpty()) {
        finish();
        return;
    }
    m_current = m_queue.takeFirst();
    m_integrations->setProperty("currentImage", m_current);
    m_timeout.start();
    emit m_integrations->loadImage(m_current);
}

void HeadlessRun::onImageLoaded(const QString &id, const QVariantMap &imageData)
{
    if (id != m_current || m_finished)
        return;
    const auto image = imageData.value(QStringLiteral("image")).value<std::shared_ptr<ImageData>>();
    if (!image || image->size().isEmpty()) {
        fail(QStringLiteral("%1 loaded without pixels").arg(Console::quoted(id)));
        next();
        return;
    }
    Console::line(QStringLiteral("loaded id=%1 size=%2x%3 channels=%4")
                      .arg(Console::quoted(id))
                      .arg(image->width())
                      .arg(image->height())
                      .arg(image->mat().channels()));
    const auto result = ImageOperation::apply(m_operation, image);
    if (m_integrations->pluginType() == OvIntegrations::PSFilter)
        storeSettings(id);
    m_timeout.start();
    emit m_integrations->saveImage(result, id, SaveTarget::outputPath(m_integrations, id), imageData, QVariantMap());
}

void HeadlessRun::storeSettings(const QString &id)
{
    // The host keeps the filter's settings with the document: carry the stored ones over and
    // record what this run did under "Enhance".
    const QVariantMap stored = m_integrations->loadSettings(id);
    QVariantMap settings;
    for (const QString &key : {QStringLiteral("Denoise"), QStringLiteral("Sharpen"), QStringLiteral("Face Recovery")})
        settings.insert(key, jsonObject(stored.value(key)));
    QVariantMap subject = jsonObject(stored.value(QStringLiteral("subjectSettings")));
    subject.insert(QStringLiteral("strokes"), jsonArray(stored.value(QStringLiteral("maskStrokes"))));
    settings.insert(QStringLiteral("subjectSettings"), subject);
    settings.insert(QStringLiteral("Enhance"),
                    QVariantMap{{QStringLiteral("category"), QStringLiteral("Enhance")},
                                {QStringLiteral("params"),
                                 QVariantMap{{QStringLiteral("operation"), ImageOperation::name(m_operation)}}}});
    emit m_integrations->saveSettings(id, settings);
    Console::line(QStringLiteral("settings Enhance=%1")
                      .arg(m_integrations->loadSettings(id).value(QStringLiteral("Enhance")).toString()));
}

void HeadlessRun::onLoadingError()
{
    if (m_current.isEmpty() || m_finished)
        return;
    fail(QStringLiteral("loading %1 failed: %2").arg(Console::quoted(m_current), m_integrations->loadingError()));
    next();
}

void HeadlessRun::onSaved(const QString &outputPath)
{
    if (m_current.isEmpty() || m_finished)
        return;
    ++m_saved;
    Console::line(QStringLiteral("saved id=%1 outputPath=%2 status=ok")
                      .arg(Console::quoted(m_current), Console::quoted(outputPath)));
    next();
}

void HeadlessRun::onSavingError(const QString &outputPath, const QString &error)
{
    if (m_current.isEmpty() || m_finished)
        return;
    fail(QStringLiteral("saving %1 failed: %2").arg(Console::quoted(outputPath), error));
    next();
}

void HeadlessRun::onTimeout()
{
    fail(QStringLiteral("no answer for %1 within %2 ms").arg(Console::quoted(m_current)).arg(m_timeout.interval()));
    next();
}

void HeadlessRun::fail(const QString &message)
{
    m_failures << message;
    Console::error(QStringLiteral("error: ") + message);
}

void HeadlessRun::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_timeout.stop();
    m_integrations->cleanup();
    Console::line(QStringLiteral("done saved=%1 failed=%2").arg(m_saved).arg(m_failures.size()));
    emit finished(m_failures.isEmpty() ? 0 : 1);
}
