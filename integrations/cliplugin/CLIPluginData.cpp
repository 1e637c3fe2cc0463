#include "CLIPluginData.h"

#include "EditorNames.h"
#include "ProcessIdentity.h"

#include <QDebug>
#include <QDropEvent>
#include <QFileInfo>
#include <QFileOpenEvent>
#include <QMimeData>

#include <cstdint>

CLIPluginData::CLIPluginData(const QStringList &args)
    : m_loadChain(*this, m_shared)
    , m_saveBack(*this, m_shared, m_imageUtils)
    , m_imageUtils(nullptr)
    , m_intake(m_shared)
{
    m_intake.addLaunchArguments(args);
    m_parentPid = ProcessIdentity::parentProcessId();
    detectExternalEditor();
    logLaunchMode();

    m_loadChain.connectReader();
    m_saveBack.connectWriter();
    m_loadChain.startReaderThread();
}

CLIPluginData::~CLIPluginData()
{
    // First, so that the reader produces no more results while the parts that take them go.
    m_loadChain.stopReaderThread();
}

const QStringList &CLIPluginData::knownNonEditors()
{
    return EditorNames::knownNonEditors();
}

// An editor without files to edit is none.
void CLIPluginData::logLaunchMode()
{
    qInfo() << "Parent process ID:" << m_parentPid << m_shared.processName() << m_shared.externalEditor();
    if (!m_shared.hasPendingFiles()) {
        qInfo() << "No valid files passed, not running as external editor mode.";
        m_shared.setExternalEditor(QString());
    }
}

// ---- announcing -------------------------------------------------------------------------------

void CLIPluginData::start()
{
    qInfo() << "Starting with files" << m_shared.startAnnouncing();
    announceFiles(false);
}

void CLIPluginData::announceFiles(bool mergingInstance)
{
    const CLISharedState::Announcement announcement = m_shared.takeAnnouncement();
    if (!announcement.invalidFiles.isEmpty())
        Q_EMIT invalidImages(announcement.invalidFiles);
    if (!announcement.files.isEmpty()) {
        Q_EMIT imagesAdded(announcement.files, mergingInstance);
        sendInfoEvent();
    }
}

void CLIPluginData::sendInfoEvent()
{
    const std::optional<CLISharedState::InfoEvent> info = m_shared.takeInfoEvent();
    if (!info)
        return;
    const QVariantMap params{
        {QStringLiteral("processName"), info->processName},
        {QStringLiteral("externalEditor"), info->externalEditor},
        {QStringLiteral("fileCount"), info->fileCount},
        {QStringLiteral("os"), QStringLiteral("Windows")},
    };
    Q_EMIT trackEvent(QStringLiteral("CLI Plugin Info"), params);
}

// ---- editor detection -------------------------------------------------------------------------

void CLIPluginData::detectExternalEditor()
{
    const QString forced = m_shared.forcedEditor();
    if (!forced.isEmpty()) {
        qInfo() << "External editor forced to" << forced;
        m_shared.setExternalEditor(forced);
        return;
    }

    if (ProcessIdentity::adoptsOrphans(static_cast<std::uint32_t>(m_parentPid))) {
        qInfo() << "Parent process" << m_parentPid
                << "adopted the application from its launcher, not setting external editor mode.";
        return;
    }
    std::string executable;
    if (!readParentExecutable(executable))
        return;
    const QString processName = QFileInfo(QString::fromStdString(executable)).completeBaseName();
    m_shared.setProcessName(processName);
    if (const std::optional<QString> editor = editorFor(processName, executable))
        m_shared.setExternalEditor(*editor);
}

bool CLIPluginData::readParentExecutable(std::string &path) const
{
    unsigned long lastError = 0;
    if (ProcessIdentity::executablePath(static_cast<std::uint32_t>(m_parentPid), path, lastError))
        return true;
    qCritical() << "Could not access application file name for PID" << m_parentPid;
    qCritical() << "Last error:" << lastError;
    return false;
}

// Nothing when the executable names no editor, which leaves the editor name as it is.
std::optional<QString> CLIPluginData::editorFor(const QString &processName, const std::string &executable)
{
    if (processName.isEmpty()) {
        qWarning() << "Could not determine parent process, not setting external editor mode.";
        return std::nullopt;
    }
    const EditorNames::Match match = EditorNames::match(processName);
    switch (match.kind) {
    case EditorNames::Kind::NotAnEditor:
        qInfo() << "Running from known non-editor, not setting external editor mode" << processName;
        return std::nullopt;
    case EditorNames::Kind::Known:
        return match.name;
    case EditorNames::Kind::ByDescription:
        return describedEditor(executable, match.name);
    }
    return std::nullopt;
}

// The executable's file description, or `fallback` when it has none or it cannot be read.
QString CLIPluginData::describedEditor(const std::string &executable, const QString &fallback)
{
    const QString path = QString::fromStdString(executable);
    std::string description;
    long resultCode = 0;
    switch (ProcessIdentity::fileDescription(executable, description, resultCode)) {
    case ProcessIdentity::DescriptionStatus::NoItem:
        qCritical() << "Could not access shell item for executable" << path << resultCode;
        break;
    case ProcessIdentity::DescriptionStatus::NoDescription:
        qCritical() << "Could not get file description for executable" << path << resultCode;
        break;
    case ProcessIdentity::DescriptionStatus::Found:
        if (!description.empty())
            return QString::fromStdString(description);
        break;
    }
    return fallback;
}

// ---- application events -----------------------------------------------------------------------

bool CLIPluginData::eventFilter(QObject *watched, QEvent *event)
{
    Q_UNUSED(watched);
    switch (event->type()) {
    case QEvent::FileOpen:
        return handleFileOpen(*static_cast<QFileOpenEvent *>(event));
    case QEvent::Drop:
        return handleDrop(*static_cast<QDropEvent *>(event));
    default:
        return false;
    }
}

void CLIPluginData::redetectAndNotify()
{
    detectExternalEditor();
    Q_EMIT isPluginModeChanged(isPluginMode());
}

// A stand-alone run looks for its editor again when a file or an editor name arrives.
bool CLIPluginData::handleFileOpen(const QFileOpenEvent &event)
{
    if (m_intake.addFileOpen(event) == FileIntake::FileOpen::EditorNamed) {
        if (!isPluginMode())
            redetectAndNotify();
        sendInfoEvent();
        return true;
    }
    if (m_shared.hasPendingFiles()) {
        if (!isPluginMode())
            redetectAndNotify();
        announceFiles(false);
    }
    return true;
}

// An editor's own files come from the editor; drops go on to their target in any case.
bool CLIPluginData::handleDrop(const QDropEvent &event)
{
    if (isPluginMode())
        return false;
    const QMimeData *mime = event.mimeData();
    if (!mime)
        return false;
    if (m_intake.addDroppedImage(*mime))
        announceFiles(false);
    if (m_intake.addDroppedUrls(*mime))
        announceFiles(false);
    return false;
}

// ---- merging ----------------------------------------------------------------------------------

QString CLIPluginData::getDataForMerging()
{
    return m_intake.mergeData();
}

void CLIPluginData::mergeInstance(const QString &data)
{
    m_intake.addMergeData(data);
    qInfo() << "Loading images from merged instance" << m_shared.pendingFiles();
    announceFiles(true);
}

QString CLIPluginData::getMergableInstanceKey() const
{
    return m_shared.externalEditor();
}

// ---- loading and saving -----------------------------------------------------------------------

void CLIPluginData::loadImage(const QString &id, bool isExportingRaw)
{
    Q_UNUSED(isExportingRaw);
    m_loadChain.load(id);
}

void CLIPluginData::saveImage(const std::shared_ptr<ImageData> &image, const QString &inputPath,
                              const QString &outputPath, const QVariantMap &imageData, const QVariantMap &saveOptions)
{
    m_saveBack.save(image, inputPath, outputPath, imageData, saveOptions);
}

// ---- fixed answers and queries ----------------------------------------------------------------

QVariantMap CLIPluginData::loadSettings(const QString &id)
{
    Q_UNUSED(id);
    return {{QStringLiteral("version"), 0}};
}

void CLIPluginData::saveSettings(const QString &id, const QVariantMap &settings)
{
    Q_UNUSED(id);
    Q_UNUSED(settings);
}

QString CLIPluginData::getPluginDisplayName() const
{
    return m_shared.externalEditor();
}

bool CLIPluginData::isResizingSupported() const
{
    return true;
}

bool CLIPluginData::isSilent() const
{
    return false;
}

bool CLIPluginData::isPluginMode() const
{
    return !m_shared.externalEditor().isEmpty();
}

bool CLIPluginData::isLoading() const
{
    return m_shared.isLoading();
}

QString CLIPluginData::loadingError() const
{
    return m_shared.loadingError();
}

QString CLIPluginData::loadingStatus() const
{
    return m_shared.loadingStatus();
}

QSize CLIPluginData::imageSize(const QString &id)
{
    return m_imageUtils.imageSize(id);
}

void CLIPluginData::setup(QApplication *app, OvIntercom *intercom)
{
    Q_UNUSED(app);
    m_intercom = intercom;
}
