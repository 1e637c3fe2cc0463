#include "ImageLoadChain.h"

#include "CLIPluginData.h"
#include "CLISharedState.h"
#include "ImageDataKeys.h"
#include "TempFolder.h"
#include "ThreadStop.h"
#include "imaging/ImageData.h"
#include "imaging/OvExifTool.h"
#include "imaging/OvExifToolMetadata.h"
#include "imaging/OvImageReaderWorker.h"
#include "imaging/OvImageUtils.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStringView>
#include <QThread>
#include <QVariant>

#include <memory>

namespace {

constexpr ThreadStop::Messages ReaderThreadStop{
    "Stopping CLIPluginData thread",
    "CLIPluginData thread stopped",
    "CLIPluginData thread timed out. Attempting to terminate.",
    "CLIPluginData thread terminated",
    "CLIPluginData thread could not terminate in time. Time to crash.",
};

// The same source always maps to the same file, so a thumbnail is reused across loads and runs.
QString thumbnailPathFor(const QString &sourcePath)
{
    const quint64 hash = qHash(QStringView(sourcePath), 0);
    return TempFolder::filePath(QString::number(hash) + QStringLiteral("-thumbnail.jpeg"));
}

std::shared_ptr<ImageData> imageOf(const QVariantMap &description)
{
    return description.value(ImageDataKeys::Image).value<std::shared_ptr<ImageData>>();
}

bool hasPixels(const std::shared_ptr<ImageData> &image)
{
    return image && !image->size().isEmpty();
}

QString noImageError(const QString &filePath)
{
    return QStringLiteral("No image data could be read from %1").arg(filePath);
}

} // namespace

ImageLoadChain::ImageLoadChain(CLIPluginData &backEnd, CLISharedState &shared)
    : m_backEnd(backEnd)
    , m_shared(shared)
    , m_reader(new OvImageReaderWorker(nullptr))
    , m_readerThread(new QThread(nullptr))
{
}

ImageLoadChain::~ImageLoadChain()
{
    delete m_exifTool;
    // Qt aborts the process when a running thread is deleted; one that outlived terminate() is
    // left to the end of the process, with the reader it may still be running, so that the
    // destruction of the back end goes on.
    if (m_readerThread->isFinished())
        delete m_readerThread;
}

void ImageLoadChain::connectReader()
{
    m_reader->moveToThread(m_readerThread);
    QObject::connect(m_readerThread, &QThread::finished, m_reader, &QObject::deleteLater);
    QObject::connect(&m_backEnd, &CLIPluginData::startLoadImage, m_reader, &OvImageReaderWorker::loadImage);
    QObject::connect(m_reader, &OvImageReaderWorker::imageLoaded, &m_backEnd,
                     [this](const QVariantMap &imageData) { onImageLoaded(imageData); });
    QObject::connect(m_reader, &OvImageReaderWorker::error, &m_backEnd,
                     [this](const QString &error) { endWithError(error); });
    QObject::connect(m_reader, &OvImageReaderWorker::statusChanged, &m_backEnd,
                     [this](const QString &status) { setLoadingStatus(status); });
}

void ImageLoadChain::startReaderThread()
{
    m_readerThread->start(QThread::InheritPriority);
}

void ImageLoadChain::stopReaderThread()
{
    ThreadStop::stop(*m_readerThread, ReaderThreadStop);
}

QThread *ImageLoadChain::readerThread() const
{
    return m_readerThread;
}

OvExifTool *ImageLoadChain::exifTool()
{
    if (!m_exifTool) {
        m_exifTool = new OvExifTool(nullptr);
        QObject::connect(
            m_exifTool, &OvExifTool::readFinished, &m_backEnd,
            [this](const QString &filePath, const QVariantMap &metadata) { onMetadataRead(filePath, metadata); });
        QObject::connect(m_exifTool, &OvExifTool::thumbnailFinished, &m_backEnd,
                         [this](const QString &thumbnailPath) { onThumbnailFinished(thumbnailPath); });
    }
    return m_exifTool;
}

void ImageLoadChain::load(const QString &id)
{
    m_currentFile = id;
    qDebug() << "CLIPluginData::loadImage" << id;
    setLoadingStatus(QStringLiteral("Reading metadata"));
    setLoading(true);
    exifTool()->readMetadata(id);
}

void ImageLoadChain::onMetadataRead(const QString &filePath, const QVariantMap &metadata)
{
    // The reader gets it on its own thread.
    Q_EMIT m_backEnd.startLoadImage(filePath, metadata, QVariantMap());
}

void ImageLoadChain::onImageLoaded(const QVariantMap &imageData)
{
    setLoadingStatus(QString());
    // A description for another path belongs to an earlier request.
    if (imageData.value(ImageDataKeys::FilePath) != QVariant(m_currentFile))
        return;

    m_pendingImage = imageData;
    if (!hasPixels(imageOf(m_pendingImage))) {
        endWithError(noImageError(m_currentFile));
        return;
    }

    // Empty when there is no folder to write in: the description then goes out without one.
    const QString thumb = thumbnailPathFor(m_currentFile);
    if (!thumb.isEmpty() && needsNewThumbnail(thumb)) {
        if (requestThumbnail(thumb))
            return;
    } else if (!thumb.isEmpty() && QFile::exists(thumb)) {
        m_pendingImage.insert(ImageDataKeys::Thumbnail, thumb);
    }
    onThumbnailFinished(thumb);
}

bool ImageLoadChain::needsNewThumbnail(const QString &thumbnailPath)
{
    // The name is predictable in a shared folder: a link planted there is never trusted. It is
    // removed, so that a new thumbnail is made and nothing is written or shown through the link.
    if (QFileInfo(thumbnailPath).isSymLink()) {
        QFile::remove(thumbnailPath);
        return true;
    }
    return OvImageUtils::shouldGenerateThumbnail(m_currentFile, thumbnailPath, m_pendingImage);
}

// Returns whether the wrapper took the request; its thumbnailFinished then goes on with the load.
bool ImageLoadChain::requestThumbnail(const QString &thumbnailPath)
{
    OvExifTool *tool = exifTool();
    if (!tool) {
        qWarning() << "Cannot read thumbnail";
        return false;
    }
    const QVariantMap metadata = m_pendingImage.value(ImageDataKeys::Metadata).toMap();
    tool->saveThumbnailToFile(m_currentFile, thumbnailPath, OvExifToolMetadata(metadata).orientation());
    return true;
}

void ImageLoadChain::onThumbnailFinished(const QString &thumbnailPath)
{
    if (QFile::exists(thumbnailPath))
        m_pendingImage.insert(ImageDataKeys::Thumbnail, thumbnailPath);

    const QString filePath = m_pendingImage.value(ImageDataKeys::FilePath).toString();
    const std::shared_ptr<ImageData> image = imageOf(m_pendingImage);
    if (!hasPixels(image)) {
        endWithError(noImageError(filePath));
        return;
    }
    m_pendingImage.insert(ImageDataKeys::FullSize, QVariant(image->fullSize()));

    Q_EMIT m_backEnd.imageLoaded(filePath, m_pendingImage);
    setLoading(false);
}

void ImageLoadChain::endWithError(const QString &error)
{
    setLoadingStatus(QString());
    qCritical() << "Error loading image:" << error;
    m_shared.setLoadingError(error);
    Q_EMIT m_backEnd.loadingErrorChanged();
    setLoading(false);
}

void ImageLoadChain::setLoadingStatus(const QString &status)
{
    if (m_shared.setLoadingStatus(status))
        Q_EMIT m_backEnd.loadingStatusChanged();
}

void ImageLoadChain::setLoading(bool loading)
{
    m_shared.setLoading(loading);
    Q_EMIT m_backEnd.isLoadingChanged(loading);
}
