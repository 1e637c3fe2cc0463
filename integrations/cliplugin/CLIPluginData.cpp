#include "CLIPluginData.h"

#include "EditorNames.h"
#include "FolderWalk.h"
#include "ImageDataKeys.h"
#include "LaunchArguments.h"
#include "ProcessIdentity.h"
#include "TempFileWriter.h"
#include "ThreadStop.h"
#include "imaging/OvExifTool.h"
#include "imaging/OvExifToolMetadata.h"
#include "imaging/OvImageReaderWorker.h"
#include "imaging/OvImageWriter.h"

#include <QBuffer>
#include <QByteArrayView>
#include <QDebug>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QFileOpenEvent>
#include <QHash>
#include <QImage>
#include <QMimeData>
#include <QMutexLocker>
#include <QStandardPaths>
#include <QStringView>
#include <QUrl>

namespace {

const QString kEditorUrlPrefix = QStringLiteral("/editor/");
const QString kApplePhotos = QStringLiteral("Apple Photos");
const QString kMergeSeparator = QStringLiteral("::");

constexpr ThreadStop::Messages ReaderThreadStop{
    "Stopping CLIPluginData thread",
    "CLIPluginData thread stopped",
    "CLIPluginData thread timed out. Attempting to terminate.",
    "CLIPluginData thread terminated",
    "CLIPluginData thread could not terminate in time. Time to crash.",
};

} // namespace

CLIPluginData::CLIPluginData(const QStringList &args)
    : m_reader(new OvImageReaderWorker(nullptr))
    , m_readerThread(new QThread(nullptr))
    , m_writer(new OvImageWriter(nullptr))
    , m_imageUtils(nullptr)
    , m_supportedFormats(OvImageUtils::supportedFileFormats())
{
    const LaunchArguments launch = LaunchArguments::parse(args);
    {
        QMutexLocker lock(&m_mutex);
        m_forcedEditor = launch.editor;
    }
    for (const QString &candidate : launch.candidates)
        addFile(candidate);

    const quint64 parentPid = parentProcessId();
    {
        QMutexLocker lock(&m_mutex);
        m_parentPid = parentPid;
    }
    detectExternalEditor();

    {
        QMutexLocker lock(&m_mutex);
        qInfo() << "Parent process ID:" << m_parentPid << m_processName << m_externalEditor;
        if (m_files.isEmpty()) {
            qInfo() << "No valid files passed, not running as external editor mode.";
            m_externalEditor.clear();
        }
    }

    m_reader->moveToThread(m_readerThread);
    connect(m_readerThread, &QThread::finished, m_reader, &QObject::deleteLater);
    connect(this, &CLIPluginData::startLoadImage, m_reader, &OvImageReaderWorker::loadImage);
    connect(m_reader, &OvImageReaderWorker::imageLoaded, this, &CLIPluginData::onImageLoaded);
    connect(m_reader, &OvImageReaderWorker::error, this, &CLIPluginData::onReaderError);
    connect(m_reader, &OvImageReaderWorker::statusChanged, this, &CLIPluginData::setLoadingStatus);
    connect(m_writer, &OvImageWriter::imageSaved, this, &CLIPluginData::onImageSaved);
    connect(m_writer, &OvImageWriter::writeProgress, this, &PluginData::imageSavingProgress);
    connect(m_writer, &OvImageWriter::errorSaving, this, &PluginData::imageSavingError);

    m_readerThread->start(QThread::InheritPriority);
}

CLIPluginData::~CLIPluginData()
{
    ThreadStop::stop(*m_readerThread, ReaderThreadStop);

    delete m_exifTool;
    delete m_writer;
    // Qt aborts the process when a running thread is deleted; one that outlived terminate() is
    // left to the end of the process, with the reader it may still be running, so that the
    // destruction of the back end goes on.
    if (m_readerThread->isFinished())
        delete m_readerThread;
}

const QStringList &CLIPluginData::knownNonEditors()
{
    return EditorNames::knownNonEditors();
}

// ---- files ------------------------------------------------------------------------------------

void CLIPluginData::addFile(const QString &path)
{
    if (path.isEmpty())
        return;
    const QString p = QDir::fromNativeSeparators(path);
    const QString ext = QFileInfo(p).suffix().toLower();

    if (m_supportedFormats.contains(ext)) {
        if (!QFile::exists(p))
            return;
        // One hash lookup per file: the set grows only for a path it does not hold yet.
        QMutexLocker lock(&m_mutex);
        const qsizetype before = m_fileSet.size();
        m_fileSet.insert(p);
        if (m_fileSet.size() != before)
            m_files.append(p);
    } else if (ext != QLatin1String("xmp")) {
        QMutexLocker lock(&m_mutex);
        m_invalidFiles.append(p);
    }
}

void CLIPluginData::addDirectory(const QString &dir)
{
    for (const QString &file : FolderWalk::files(dir))
        addFile(file);
}

void CLIPluginData::start()
{
    QStringList files;
    {
        QMutexLocker lock(&m_mutex);
        m_started = true;
        files = m_files;
    }
    qInfo() << "Starting with files" << files;
    announceFiles(false);
}

void CLIPluginData::announceFiles(bool mergingInstance)
{
    QStringList invalid;
    QStringList files;
    {
        QMutexLocker lock(&m_mutex);
        if (!m_started)
            return;
        invalid.swap(m_invalidFiles);
        files.swap(m_files);
        m_fileSet.clear();
        m_fileCount += static_cast<qint32>(files.size());
    }

    if (!invalid.isEmpty())
        Q_EMIT invalidImages(invalid);
    if (!files.isEmpty()) {
        Q_EMIT imagesAdded(files, mergingInstance);
        sendInfoEvent();
    }
}

void CLIPluginData::sendInfoEvent()
{
    QVariantMap params;
    {
        QMutexLocker lock(&m_mutex);
        if (m_infoSent || m_fileCount == 0 || m_externalEditor.isEmpty())
            return;
        m_infoSent = true;
        params.insert(QStringLiteral("processName"), m_processName);
        params.insert(QStringLiteral("externalEditor"), m_externalEditor);
        params.insert(QStringLiteral("fileCount"), m_fileCount);
        params.insert(QStringLiteral("os"), QStringLiteral("Windows"));
    }
    Q_EMIT trackEvent(QStringLiteral("CLI Plugin Info"), params);
}

// ---- editor detection -------------------------------------------------------------------------

quint32 CLIPluginData::parentProcessId()
{
    return ProcessIdentity::parentProcessId();
}

void CLIPluginData::detectExternalEditor()
{
    QString forced;
    quint64 pid = 0;
    {
        QMutexLocker lock(&m_mutex);
        forced = m_forcedEditor;
        pid = m_parentPid;
    }
    if (!forced.isEmpty()) {
        qInfo() << "External editor forced to" << forced;
        QMutexLocker lock(&m_mutex);
        m_externalEditor = forced;
        return;
    }

    std::string nativePath;
    unsigned long lastError = 0;
    if (!ProcessIdentity::executablePath(static_cast<std::uint32_t>(pid), nativePath, lastError)) {
        qCritical() << "Could not access application file name for PID" << pid;
        qCritical() << "Last error:" << lastError;
        return;
    }
    const QString path = QString::fromStdString(nativePath);
    const QString processName = QFileInfo(path).completeBaseName();
    {
        QMutexLocker lock(&m_mutex);
        m_processName = processName;
    }
    if (processName.isEmpty()) {
        qWarning() << "Could not determine parent process, not setting external editor mode.";
        return;
    }

    const EditorNames::Match match = EditorNames::match(processName);
    if (match.kind == EditorNames::Kind::NotAnEditor) {
        qInfo() << "Running from known non-editor, not setting external editor mode" << processName;
        return;
    }

    QString editor = match.name;
    if (match.kind == EditorNames::Kind::ByDescription) {
        std::string description;
        long resultCode = 0;
        switch (ProcessIdentity::fileDescription(nativePath, description, resultCode)) {
        case ProcessIdentity::DescriptionStatus::NoItem:
            qCritical() << "Could not access shell item for executable" << path << resultCode;
            break;
        case ProcessIdentity::DescriptionStatus::NoDescription:
            qCritical() << "Could not get file description for executable" << path << resultCode;
            break;
        case ProcessIdentity::DescriptionStatus::Found:
            if (!description.empty())
                editor = QString::fromStdString(description);
            break;
        }
    }

    QMutexLocker lock(&m_mutex);
    m_externalEditor = editor;
}

// ---- application events -----------------------------------------------------------------------

bool CLIPluginData::eventFilter(QObject *watched, QEvent *event)
{
    Q_UNUSED(watched);
    switch (event->type()) {
    case QEvent::FileOpen:
        return handleFileOpen(static_cast<QFileOpenEvent *>(event));
    case QEvent::Drop:
        return handleDrop(static_cast<QDropEvent *>(event));
    default:
        return false;
    }
}

void CLIPluginData::redetectAndNotify()
{
    detectExternalEditor();
    Q_EMIT isPluginModeChanged(isPluginMode());
}

bool CLIPluginData::handleFileOpen(QFileOpenEvent *event)
{
    QString file = event->file();
    const QUrl url = event->url();
    qInfo() << "Received URL:" << url;

    if (url.scheme() == QLatin1String("orvane")) {
        const QString path = url.path(QUrl::FullyDecoded);
        if (path.startsWith(kEditorUrlPrefix)) {
            {
                QMutexLocker lock(&m_mutex);
                m_forcedEditor = path.mid(kEditorUrlPrefix.size());
            }
            if (!isPluginMode())
                redetectAndNotify();
            sendInfoEvent();
            return true;
        }
    } else if (file.isEmpty()) {
        file = url.isLocalFile() ? url.toLocalFile() : QUrl::fromPercentEncoding(url.toString().toUtf8());
    }

    qInfo() << "File open event:" << file;
    addFile(file);

    bool hasFiles = false;
    {
        QMutexLocker lock(&m_mutex);
        hasFiles = !m_files.isEmpty();
    }
    if (hasFiles) {
        if (!isPluginMode())
            redetectAndNotify();
        announceFiles(false);
    }
    return true;
}

bool CLIPluginData::handleDrop(QDropEvent *event)
{
    if (isPluginMode())
        return false;
    const QMimeData *mime = event->mimeData();
    if (!mime)
        return false;

    if (mime->hasImage()) {
        qInfo() << "Dropped image";
        addDroppedImage(mime->imageData());
        announceFiles(false);
    }

    if (mime->hasUrls()) {
        const QList<QUrl> urls = mime->urls();
        for (qsizetype i = 0; i < urls.size(); ++i) {
            QUrl url = urls.at(i);
            qInfo() << "Dropped URL:" << i << url;
            if (url.scheme().isEmpty())
                url.setScheme(QStringLiteral("file"));
            const QString local = url.toLocalFile();
            const QFileInfo info(local);
            if (!info.exists())
                continue;
            if (info.isFile())
                addFile(local);
            else if (info.isDir())
                addDirectory(local);
        }
        announceFiles(false);
    }
    return false;
}

void CLIPluginData::addDroppedImage(const QVariant &imageData)
{
    const QImage image = qvariant_cast<QImage>(imageData);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "png");
    buffer.close();

    const quint64 hash = qHash(QByteArrayView(png), 0);
    const QString path = QDir::tempPath() + QLatin1Char('/') + QString::number(hash) + QStringLiteral(".png");
    // The name is predictable, so the file is made new and renamed into place.
    if (!png.isEmpty())
        TempFileWriter::writeNew(path, png);
    addFile(path);
}

// ---- merging ----------------------------------------------------------------------------------

QString CLIPluginData::getDataForMerging()
{
    QMutexLocker lock(&m_mutex);
    return m_files.join(kMergeSeparator);
}

void CLIPluginData::mergeInstance(const QString &data)
{
    const QStringList parts = data.split(kMergeSeparator, Qt::KeepEmptyParts, Qt::CaseSensitive);
    for (const QString &part : parts)
        addFile(part);

    QStringList files;
    {
        QMutexLocker lock(&m_mutex);
        files = m_files;
    }
    qInfo() << "Loading images from merged instance" << files;
    announceFiles(true);
}

QString CLIPluginData::getMergableInstanceKey() const
{
    QMutexLocker lock(&m_mutex);
    return m_externalEditor;
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
    QMutexLocker lock(&m_mutex);
    return m_externalEditor;
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
    QMutexLocker lock(&m_mutex);
    return !m_externalEditor.isEmpty();
}

bool CLIPluginData::isLoading() const
{
    QMutexLocker lock(&m_mutex);
    return m_loading;
}

QString CLIPluginData::loadingError() const
{
    QMutexLocker lock(&m_mutex);
    return m_loadingError;
}

QString CLIPluginData::loadingStatus() const
{
    QMutexLocker lock(&m_mutex);
    return m_loadingStatus;
}

QSize CLIPluginData::imageSize(const QString &id)
{
    return m_imageUtils.imageSize(id);
}

void CLIPluginData::setup(QApplication *app, OvIntercom *intercom)
{
    Q_UNUSED(app);
    QMutexLocker lock(&m_mutex);
    m_intercom = intercom;
}

QString CLIPluginData::forcedEditor() const
{
    QMutexLocker lock(&m_mutex);
    return m_forcedEditor;
}

// ---- loading ----------------------------------------------------------------------------------

OvExifTool *CLIPluginData::exifTool()
{
    if (!m_exifTool) {
        m_exifTool = new OvExifTool(nullptr);
        connect(m_exifTool, &OvExifTool::readFinished, this, &CLIPluginData::onMetadataRead);
        connect(m_exifTool, &OvExifTool::thumbnailFinished, this, &CLIPluginData::onThumbnailFinished);
    }
    return m_exifTool;
}

void CLIPluginData::loadImage(const QString &id, bool isExportingRaw)
{
    Q_UNUSED(isExportingRaw);
    {
        QMutexLocker lock(&m_mutex);
        m_currentFile = id;
    }
    qDebug() << "CLIPluginData::loadImage" << id;
    setLoadingStatus(QStringLiteral("Reading metadata"));
    setLoading(true);
    exifTool()->readMetadata(id);
}

void CLIPluginData::onMetadataRead(const QString &filePath, const QVariantMap &metadata)
{
    Q_EMIT startLoadImage(filePath, metadata, QVariantMap());
}

void CLIPluginData::setLoadingStatus(const QString &status)
{
    {
        QMutexLocker lock(&m_mutex);
        if (status == m_loadingStatus)
            return;
        m_loadingStatus = status;
    }
    Q_EMIT loadingStatusChanged();
}

void CLIPluginData::setLoading(bool loading)
{
    {
        QMutexLocker lock(&m_mutex);
        m_loading = loading;
    }
    Q_EMIT isLoadingChanged(loading);
}

void CLIPluginData::onReaderError(const QString &error)
{
    setLoadingStatus(QString());
    qCritical() << "Error loading image:" << error;
    {
        QMutexLocker lock(&m_mutex);
        m_loadingError = error;
    }
    Q_EMIT loadingErrorChanged();
    setLoading(false);
}

void CLIPluginData::failLoad(const QString &error)
{
    onReaderError(error);
}

QString CLIPluginData::thumbnailPathFor(const QString &sourcePath) const
{
    const quint64 hash = qHash(QStringView(sourcePath), 0);
    return QStandardPaths::writableLocation(QStandardPaths::TempLocation) + QLatin1Char('/')
        + QString::number(hash) + QStringLiteral("-thumbnail.jpeg");
}

void CLIPluginData::onImageLoaded(const QVariantMap &imageData)
{
    setLoadingStatus(QString());
    QString current;
    {
        QMutexLocker lock(&m_mutex);
        current = m_currentFile;
    }
    if (imageData.value(ImageDataKeys::FilePath) != QVariant(current))
        return;

    m_pendingImage = imageData;
    const auto image = m_pendingImage.value(ImageDataKeys::Image).value<std::shared_ptr<ImageData>>();
    if (!image || image->size().isEmpty()) {
        failLoad(QStringLiteral("No image data could be read from %1").arg(current));
        return;
    }

    const QString thumb = thumbnailPathFor(current);
    // The name is predictable in a shared folder: a link planted there is never trusted. It is
    // removed, so that a new thumbnail is made and nothing is written or shown through the link.
    const bool planted = QFileInfo(thumb).isSymLink();
    if (planted)
        QFile::remove(thumb);
    if (planted || OvImageUtils::shouldGenerateThumbnail(current, thumb, m_pendingImage)) {
        OvExifTool *tool = exifTool();
        if (!tool) {
            qWarning() << "Cannot read thumbnail";
        } else {
            const QVariantMap metadata = m_pendingImage.value(ImageDataKeys::Metadata).toMap();
            const int orientation = OvExifToolMetadata(metadata).orientation();
            tool->saveThumbnailToFile(current, thumb, orientation);
            return;
        }
    } else if (QFile::exists(thumb)) {
        m_pendingImage.insert(ImageDataKeys::Thumbnail, thumb);
    }
    onThumbnailFinished(thumb);
}

void CLIPluginData::onThumbnailFinished(const QString &thumbnailPath)
{
    if (QFile::exists(thumbnailPath))
        m_pendingImage.insert(ImageDataKeys::Thumbnail, thumbnailPath);

    const QString filePath = m_pendingImage.value(ImageDataKeys::FilePath).toString();
    const auto image = m_pendingImage.value(ImageDataKeys::Image).value<std::shared_ptr<ImageData>>();
    if (!image || image->size().isEmpty()) {
        failLoad(QStringLiteral("No image data could be read from %1").arg(filePath));
        return;
    }
    m_pendingImage.insert(ImageDataKeys::FullSize, QVariant(image->fullSize()));

    Q_EMIT imageLoaded(filePath, m_pendingImage);
    setLoading(false);
}

// ---- saving -----------------------------------------------------------------------------------

QString CLIPluginData::applePhotosTarget(const QString &outputPath) const
{
    return QDir::tempPath() + QDir::separator() + QFileInfo(outputPath).completeBaseName()
        + QStringLiteral(".jpeg");
}

void CLIPluginData::saveImage(const std::shared_ptr<ImageData> &image, const QString &inputPath,
                              const QString &outputPath, const QVariantMap &imageData,
                              const QVariantMap &saveOptions)
{
    if (!image) {
        qCritical() << "Image pointer is null, cannot save image";
        return;
    }
    m_saveInputPath = inputPath;
    qDebug() << "CLIPluginData::saveImage, image size:" << image->size();

    QString target = outputPath;
    if (forcedEditor() == kApplePhotos) {
        target = applePhotosTarget(outputPath);
        // The temporary name is predictable: a planted link must not redirect the writer.
        if (QFileInfo(target).isSymLink())
            QFile::remove(target);
    }
    m_writer->saveImage(image, inputPath, target, imageData, saveOptions);
}

void CLIPluginData::onImageSaved(const QString &outputPath, qint64 bytesWritten)
{
    Q_UNUSED(bytesWritten);
    if (forcedEditor() != kApplePhotos) {
        Q_EMIT imageSaved(outputPath);
        return;
    }

    // Copied beside the original and renamed over it, so that a failure leaves it in place.
    QString error;
    const bool replaced = TempFileWriter::copyOver(outputPath, m_saveInputPath, &error);
    QFile::remove(outputPath);
    if (!replaced) {
        qWarning() << "Failed to copy image to original location:" << error;
        Q_EMIT imageSavingError(m_saveInputPath, QStringLiteral("Failed to save back to Apple Photos"));
        return;
    }

    const QString ext = m_imageUtils.getExtension(m_saveInputPath);
    const QString exportExt = OvImageUtils::getExportExtension(ext, QStringLiteral("preserve"));
    const QString reported = m_saveInputPath.left(m_saveInputPath.lastIndexOf(QLatin1Char('.')))
        + QLatin1Char('.') + exportExt;
    Q_EMIT imageSaved(reported);
}
