#include "FileIntake.h"

#include "CLISharedState.h"
#include "FolderWalk.h"
#include "LaunchArguments.h"
#include "TempFileWriter.h"
#include "TempFolder.h"
#include "imaging/OvImageUtils.h"

#include <QBuffer>
#include <QByteArray>
#include <QByteArrayView>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileOpenEvent>
#include <QHash>
#include <QImage>
#include <QLatin1String>
#include <QList>
#include <QMimeData>
#include <QUrl>
#include <QVariant>

namespace {

constexpr QLatin1String EditorUrlPrefix("/editor/");
const QString MergeSeparator = QStringLiteral("::");

} // namespace

FileIntake::FileIntake(CLISharedState &shared)
    : m_shared(shared)
    , m_supportedFormats(OvImageUtils::supportedFileFormats())
{
}

void FileIntake::addLaunchArguments(const QStringList &arguments)
{
    const LaunchArguments launch = LaunchArguments::parse(arguments);
    m_shared.setForcedEditor(launch.editor);
    for (const QString &candidate : launch.candidates)
        addFile(candidate);
}

void FileIntake::addFile(const QString &path)
{
    if (path.isEmpty())
        return;
    const QString p = QDir::fromNativeSeparators(path);
    const QString ext = QFileInfo(p).suffix().toLower();

    if (m_supportedFormats.contains(ext)) {
        if (QFile::exists(p))
            m_shared.acceptFile(p);
    } else if (ext != QLatin1String("xmp")) {
        m_shared.rejectFile(p);
    }
}

void FileIntake::addDirectory(const QString &dir)
{
    for (const QString &file : FolderWalk::files(dir))
        addFile(file);
}

FileIntake::FileOpen FileIntake::addFileOpen(const QFileOpenEvent &event)
{
    QString file = event.file();
    const QUrl url = event.url();
    qInfo() << "Received URL:" << url;

    if (url.scheme() == QLatin1String("orvane")) {
        const QString path = url.path(QUrl::FullyDecoded);
        if (path.startsWith(EditorUrlPrefix)) {
            m_shared.setForcedEditor(path.mid(EditorUrlPrefix.size()));
            return FileOpen::EditorNamed;
        }
    } else if (file.isEmpty()) {
        file = url.isLocalFile() ? url.toLocalFile() : QUrl::fromPercentEncoding(url.toString().toUtf8());
    }

    qInfo() << "File open event:" << file;
    addFile(file);
    return FileOpen::FileOffered;
}

bool FileIntake::addDroppedImage(const QMimeData &mime)
{
    if (!mime.hasImage())
        return false;
    qInfo() << "Dropped image";
    addFile(saveDroppedImage(mime.imageData()));
    return true;
}

QString FileIntake::saveDroppedImage(const QVariant &imageData)
{
    const QImage image = qvariant_cast<QImage>(imageData);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "png");
    buffer.close();

    const quint64 hash = qHash(QByteArrayView(png), 0);
    const QString path = TempFolder::filePath(QString::number(hash) + QStringLiteral(".png"));
    // The name is predictable, so the file is made new and renamed into place.
    if (!png.isEmpty() && !path.isEmpty())
        TempFileWriter::writeNew(path, png);
    return path;
}

bool FileIntake::addDroppedUrls(const QMimeData &mime)
{
    if (!mime.hasUrls())
        return false;
    const QList<QUrl> urls = mime.urls();
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
    return true;
}

QString FileIntake::mergeData() const
{
    return m_shared.pendingFiles().join(MergeSeparator);
}

void FileIntake::addMergeData(const QString &data)
{
    const QStringList parts = data.split(MergeSeparator, Qt::KeepEmptyParts, Qt::CaseSensitive);
    for (const QString &part : parts)
        addFile(part);
}
