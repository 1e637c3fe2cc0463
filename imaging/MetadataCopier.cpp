#include "MetadataCopier.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStorageInfo>

#include <algorithm>

namespace {

// ExifTool rewrites the whole file, so a large TIFF on a slow disk takes seconds; a helper that
// has not finished by then is taken for hung. Together with the two reads of the load this bounds
// what a hung helper costs a photo, and it stays well inside the wait of any caller of the writer.
constexpr int TimeoutMs = 30000;
constexpr int StartTimeoutMs = 10000;
// Only the first line of the errors is shown.
constexpr qsizetype MaxErrorBytes = 64 * 1024;

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

enum class Outcome { Finished, TimedOut, Flooded };

// Waits for the helper to end while reading what it writes as it comes, so that a helper that
// writes without end fills no more than one pipe's worth of memory before it is cut off.
Outcome waitBounded(QProcess &exiftool, QByteArray *errors)
{
    const QDeadlineTimer deadline(TimeoutMs);
    while (exiftool.state() != QProcess::NotRunning) {
        if (deadline.hasExpired())
            return Outcome::TimedOut;
        exiftool.waitForReadyRead(int(std::min<qint64>(deadline.remainingTime(), 1000)));
        const QByteArray chunk = exiftool.readAll();
        if (errors->size() + chunk.size() > MaxErrorBytes)
            return Outcome::Flooded;
        *errors += chunk;
    }
    *errors += exiftool.readAll().left(MaxErrorBytes);
    return Outcome::Finished;
}

// Ends a helper that overstayed; ExifTool writes beside the file under `leftover` and renames,
// so a killed run leaves that file behind.
void abandon(QProcess &exiftool, const QString &leftover)
{
    exiftool.kill();
    exiftool.waitForFinished();
    QFile::remove(leftover);
}

MetadataCopier::Result failed(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return MetadataCopier::Result::Failed;
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
    exiftool.setStandardInputFile(QProcess::nullDevice());
    // The copy prints nothing wanted on either channel (-q -q); both are read, so that a helper
    // that writes without end on either is noticed and cut off.
    exiftool.setProcessChannelMode(QProcess::MergedChannels);
    exiftool.start(QStringLiteral("exiftool"),
                   {QStringLiteral("-q"), QStringLiteral("-q"), QStringLiteral("-tagsFromFile"),
                    source.absoluteFilePath(), QStringLiteral("-all:all"), QStringLiteral("-icc_profile"),
                    QStringLiteral("-Orientation=1"), QStringLiteral("-n"), QStringLiteral("-overwrite_original"),
                    QFileInfo(targetPath).absoluteFilePath()});
    if (!exiftool.waitForStarted(StartTimeoutMs)) {
        qWarning() << "ExifTool is not available, metadata not copied:" << exiftool.errorString();
        return Result::Unavailable;
    }
    const QString leftover = targetPath + QStringLiteral("_exiftool_tmp");
    QByteArray errorBytes;
    const Outcome outcome = waitBounded(exiftool, &errorBytes);
    if (outcome != Outcome::Finished) {
        abandon(exiftool, leftover);
        const bool late = outcome == Outcome::TimedOut;
        qWarning() << (late ? "ExifTool did not finish copying metadata from"
                            : "ExifTool wrote without end while copying metadata from")
                   << sourcePath;
        return failed(error, late ? QStringLiteral("the metadata could not be copied in time")
                                  : QStringLiteral("the metadata could not be copied (ExifTool misbehaved)"));
    }
    if (exiftool.exitStatus() != QProcess::NormalExit || exiftool.exitCode() != 0) {
        const QString errors = QString::fromLocal8Bit(errorBytes).trimmed();
        QFile::remove(leftover);
        qWarning() << "ExifTool could not copy metadata from" << sourcePath << errors;
        return failed(error, writeFailure(source, targetPath, errors));
    }
    return Result::Copied;
}

} // namespace MetadataCopier
