#include "SaveBack.h"

#include "CLIPluginData.h"
#include "CLISharedState.h"
#include "TempFileWriter.h"
#include "TempFolder.h"
#include "imaging/OvImageUtils.h"
#include "imaging/OvImageWriter.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLatin1String>

namespace {

constexpr QLatin1String ApplePhotos("Apple Photos");

// Empty when there is no temporary folder to write in.
QString applePhotosTarget(const QString &outputPath)
{
    return TempFolder::filePath(QFileInfo(outputPath).completeBaseName() + QStringLiteral(".jpeg"));
}

} // namespace

SaveBack::SaveBack(CLIPluginData &backEnd, const CLISharedState &shared, OvImageUtils &imageUtils)
    : m_backEnd(backEnd)
    , m_shared(shared)
    , m_imageUtils(imageUtils)
    , m_writer(std::make_unique<OvImageWriter>(nullptr))
{
}

SaveBack::~SaveBack() = default;

void SaveBack::connectWriter()
{
    QObject::connect(m_writer.get(), &OvImageWriter::imageSaved, &m_backEnd,
                     [this](const QString &outputPath, qint64) { onImageSaved(outputPath); });
    QObject::connect(m_writer.get(), &OvImageWriter::writeProgress, &m_backEnd, &PluginData::imageSavingProgress);
    QObject::connect(m_writer.get(), &OvImageWriter::errorSaving, &m_backEnd, &PluginData::imageSavingError);
}

bool SaveBack::isApplePhotos() const
{
    return m_shared.forcedEditor() == ApplePhotos;
}

void SaveBack::save(const std::shared_ptr<ImageData> &image, const QString &inputPath, const QString &outputPath,
                    const QVariantMap &imageData, const QVariantMap &saveOptions)
{
    if (!image) {
        qCritical() << "Image pointer is null, cannot save image";
        return;
    }
    m_saveInputPath = inputPath;
    qDebug() << "CLIPluginData::saveImage, image size:" << image->size();

    QString target = outputPath;
    if (isApplePhotos()) {
        target = applePhotosTarget(outputPath);
        if (target.isEmpty()) {
            Q_EMIT m_backEnd.imageSavingError(inputPath, QStringLiteral("Failed to save back to Apple Photos"));
            return;
        }
        // The temporary name is predictable: a planted link must not redirect the writer.
        if (QFileInfo(target).isSymLink())
            QFile::remove(target);
    }
    m_writer->saveImage(image, inputPath, target, imageData, saveOptions);
}

void SaveBack::onImageSaved(const QString &outputPath)
{
    if (isApplePhotos())
        replaceOriginal(outputPath);
    else
        Q_EMIT m_backEnd.imageSaved(outputPath);
}

void SaveBack::replaceOriginal(const QString &temporaryPath)
{
    // Copied beside the original and renamed over it, so that a failure leaves it in place.
    QString error;
    const bool replaced = TempFileWriter::copyOver(temporaryPath, m_saveInputPath, &error);
    QFile::remove(temporaryPath);
    if (!replaced) {
        qWarning() << "Failed to copy image to original location:" << error;
        Q_EMIT m_backEnd.imageSavingError(m_saveInputPath, QStringLiteral("Failed to save back to Apple Photos"));
        return;
    }
    Q_EMIT m_backEnd.imageSaved(reportedPath());
}

// The original holds the JPEG whatever its name; the name reported follows the export extension.
QString SaveBack::reportedPath() const
{
    const QString ext = m_imageUtils.getExtension(m_saveInputPath);
    const QString exportExt = OvImageUtils::getExportExtension(ext, QStringLiteral("preserve"));
    return m_saveInputPath.left(m_saveInputPath.lastIndexOf(QLatin1Char('.'))) + QLatin1Char('.') + exportExt;
}
