#include "MetadataCopier.h"

#include <QDebug>
#include <QFileInfo>
#include <QProcess>

namespace {

constexpr int kTimeoutMs = 60000;

} // namespace

namespace MetadataCopier {

QByteArray copy(const QString &sourcePath, const std::vector<unsigned char> &encoded)
{
    const QFileInfo source(sourcePath);
    if (sourcePath.isEmpty() || !source.isFile())
        return QByteArray();

    // Encoded bytes in through stdin, rewritten bytes out through stdout: no second file on disk.
    QProcess exiftool;
    exiftool.start(QStringLiteral("exiftool"),
                   {QStringLiteral("-q"), QStringLiteral("-q"), QStringLiteral("-tagsFromFile"),
                    source.absoluteFilePath(), QStringLiteral("-all:all"),
                    QStringLiteral("-icc_profile"), QStringLiteral("-Orientation=1"),
                    QStringLiteral("-n"), QStringLiteral("-o"), QStringLiteral("-"),
                    QStringLiteral("-")});
    if (!exiftool.waitForStarted(kTimeoutMs)) {
        qWarning() << "ExifTool is not available, metadata not copied:" << exiftool.errorString();
        return QByteArray();
    }
    exiftool.write(reinterpret_cast<const char *>(encoded.data()), qint64(encoded.size()));
    exiftool.closeWriteChannel();
    QByteArray result;
    while (exiftool.state() != QProcess::NotRunning && exiftool.waitForReadyRead(kTimeoutMs))
        result += exiftool.readAllStandardOutput();
    if (exiftool.state() != QProcess::NotRunning) {
        exiftool.kill();
        exiftool.waitForFinished();
    }
    result += exiftool.readAllStandardOutput();
    if (exiftool.exitStatus() != QProcess::NormalExit || exiftool.exitCode() != 0 || result.isEmpty()) {
        qWarning() << "ExifTool could not copy metadata from" << sourcePath
                   << exiftool.readAllStandardError().trimmed();
        return QByteArray();
    }
    return result;
}

} // namespace MetadataCopier
