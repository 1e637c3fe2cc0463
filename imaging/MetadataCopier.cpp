#include "MetadataCopier.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace {

constexpr int kTimeoutMs = 120000;

} // namespace

namespace MetadataCopier {

bool copy(const QString &sourcePath, const QString &targetPath)
{
    const QFileInfo source(sourcePath);
    if (sourcePath.isEmpty() || !source.isFile())
        return false;

    QProcess exiftool;
    exiftool.start(QStringLiteral("exiftool"),
                   {QStringLiteral("-q"), QStringLiteral("-q"), QStringLiteral("-tagsFromFile"),
                    source.absoluteFilePath(), QStringLiteral("-all:all"),
                    QStringLiteral("-icc_profile"), QStringLiteral("-Orientation=1"),
                    QStringLiteral("-n"), QStringLiteral("-overwrite_original"),
                    QFileInfo(targetPath).absoluteFilePath()});
    if (!exiftool.waitForStarted(kTimeoutMs)) {
        qWarning() << "ExifTool is not available, metadata not copied:" << exiftool.errorString();
        return false;
    }
    if (!exiftool.waitForFinished(kTimeoutMs)) {
        exiftool.kill();
        exiftool.waitForFinished();
        // ExifTool writes beside the file under this name and renames; a killed run leaves it.
        QFile::remove(targetPath + QStringLiteral("_exiftool_tmp"));
        qWarning() << "ExifTool did not finish copying metadata from" << sourcePath;
        return false;
    }
    if (exiftool.exitStatus() != QProcess::NormalExit || exiftool.exitCode() != 0) {
        qWarning() << "ExifTool could not copy metadata from" << sourcePath
                   << exiftool.readAllStandardError().trimmed();
        return false;
    }
    return true;
}

} // namespace MetadataCopier
