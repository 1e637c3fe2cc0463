#include "OvImageUtils.h"

#include "ImageHeaderReader.h"

#include <QDateTime>
#include <QFileInfo>
#include <QImageIOHandler>
#include <QImageReader>

#include <opencv2/imgcodecs.hpp>

namespace {

// The formats OpenCV reads with 16 bits and alpha where the format has them, less those whose
// codec this build of OpenCV lacks (WebP is optional): a photo manager must not be told that a
// format opens when its files would only fail to decode. OpenCV builds each codec's reader and
// writer together, so asking for the writer answers for both.
const QStringList &readableFormats()
{
    static const QStringList formats = [] {
        const QStringList candidates = {QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("png"),
                                        QStringLiteral("tif"), QStringLiteral("tiff"), QStringLiteral("webp"),
                                        QStringLiteral("bmp")};
        QStringList built;
        for (const QString &extension : candidates) {
            if (cv::haveImageWriter("." + extension.toStdString()))
                built << extension;
        }
        return built;
    }();
    return formats;
}

// Formats the writer encodes; a result keeps its source's format only when it is one of these.
const QStringList &writableFormats()
{
    return readableFormats();
}

bool swapsAxes(int exifOrientation)
{
    return exifOrientation >= 5 && exifOrientation <= 8;
}

} // namespace

OvImageUtils::OvImageUtils(QObject *parent)
    : QObject(parent)
{
}

OvImageUtils::~OvImageUtils() = default;

QStringList OvImageUtils::supportedFileFormats()
{
    return readableFormats();
}

QSize OvImageUtils::imageSize(const QString &path)
{
    // The size is reported upright, as the reader delivers the image.
    QImageReader reader(path);
    const QSize stored = reader.size();
    if (stored.isValid())
        return reader.transformation().testFlag(QImageIOHandler::TransformationRotate90) ? stored.transposed() : stored;

    // Qt's TIFF and WebP plug-ins are optional; read those headers ourselves.
    const ImageHeaderReader::Header header = ImageHeaderReader::read(path);
    if (!header.size.isValid())
        return QSize();
    return swapsAxes(header.orientation) ? header.size.transposed() : header.size;
}

QString OvImageUtils::getExtension(const QString &path)
{
    return QFileInfo(path).suffix().toLower();
}

QString OvImageUtils::getExportExtension(const QString &extension, const QString &mode)
{
    const QString ext = extension.toLower();
    if (mode == QLatin1String("preserve"))
        return writableFormats().contains(ext) ? ext : QStringLiteral("jpeg");
    // Any other mode names the wanted format itself.
    const QString wanted = mode.toLower();
    return writableFormats().contains(wanted) ? wanted : QStringLiteral("jpeg");
}

bool OvImageUtils::shouldGenerateThumbnail(const QString &sourcePath, const QString &thumbnailPath,
                                           const QVariantMap &imageData)
{
    Q_UNUSED(imageData)
    const QFileInfo thumbnail(thumbnailPath);
    if (!thumbnail.exists() || thumbnail.size() == 0)
        return true;
    const QFileInfo source(sourcePath);
    return source.exists() && thumbnail.lastModified() < source.lastModified();
}
