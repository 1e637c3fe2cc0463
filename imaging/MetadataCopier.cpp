#include "MetadataCopier.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStorageInfo>

namespace {

constexpr int TimeoutMs = 120000;

// ExifTool does not say why it could not write. Its output is the target with the source's
// metadata added, so when the folder has not even room for both files, that is the cause.
QString writeFailure(const QFileInfo &source, const QString &targetPath, const QString &errors)
{
    const QFileInfo target(targetPath);
    const QStorageInfo storage(target.absolutePath());
    if (storage.isValid() && storage.bytesAvailable() < source.size() + target.size())
        return QStringLiteral("the metadata could not be copied: no space left on device");
    return QStringLiteral("the metadata could not be copied (%1)").arg(errors.section(QLatin1Char('\n'), 0, 0));
}

} // namespace

namespace MetadataCopier {

Result copy(const QString &sourcePath, const QString &targetPath, QString *error)
{
    const QFileInfo source(sourcePath);
    // ExifTool does not write BMP, which carries none of these tags anyway.
    if (sourcePath.isEmpty() || !source.isFile()
        || QFileInfo(targetPath).suffix().compare(QLatin1String("bmp"), Qt::CaseInsensitive) == 0)
        return Result::NothingToCopy;

    QProcess exiftool;
    exiftool.start(QStringLiteral("exiftool"),
                   {QStringLiteral("-q"), QStringLiteral("-q"), QStringLiteral("-tagsFromFile"),
                    source.absoluteFilePath(), QStringLiteral("-all:all"), QStringLiteral("-icc_profile"),
                    QStringLiteral("-Orientation=1"), QStringLiteral("-n"), QStringLiteral("-overwrite_original"),
                    QFileInfo(targetPath).absoluteFilePath()});
    if (!exiftool.waitForStarted(TimeoutMs)) {
        qWarning() << "ExifTool is not available, metadata not copied:" << exiftool.errorString();
        return Result::Unavailable;
    }
    const QString leftover = targetPath + QStringLiteral("_exiftool_tmp");
    if (!exiftool.waitForFinished(TimeoutMs)) {
        exiftool.kill();
        exiftool.waitForFinished();
        // ExifTool writes beside the file under this name and renames; a killed run leaves it.
        QFile::remove(leftover);
        qWarning() << "ExifTool did not finish copying metadata from" << sourcePath;
        if (error)
            *error = QStringLiteral("the metadata could not be copied in time");
        return Result::Failed;
    }
    if (exiftool.exitStatus() != QProcess::NormalExit || exiftool.exitCode() != 0) {
        const QString errors = QString::fromLocal8Bit(exiftool.readAllStandardError()).trimmed();
        QFile::remove(leftover);
        qWarning() << "ExifTool could not copy metadata from" << sourcePath << errors;
        if (error)
            *error = writeFailure(source, targetPath, errors);
        return Result::Failed;
    }
    return Result::Copied;
}

} // namespace MetadataCopier
