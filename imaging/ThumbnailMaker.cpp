#include "ThumbnailMaker.h"

#include "ExifOrientation.h"
#include "FileReplace.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <vector>

namespace {

constexpr int kJpegQuality = 90;
// The orientation comes from the caller, so the decoders must not apply the file's own as well.
constexpr int kPreviewFlags = cv::IMREAD_COLOR | cv::IMREAD_IGNORE_ORIENTATION;
constexpr int kReducedFlags = cv::IMREAD_REDUCED_COLOR_4 | cv::IMREAD_IGNORE_ORIENTATION;

cv::Mat decode(const QString &sourcePath, const QByteArray &preview)
{
    cv::Mat image;
    try {
        if (!preview.isEmpty()) {
            const cv::Mat bytes(1, int(preview.size()), CV_8U, const_cast<char *>(preview.constData()));
            image = cv::imdecode(bytes, kPreviewFlags);
        }
        if (image.empty())
            image = cv::imread(QFile::encodeName(sourcePath).toStdString(), kReducedFlags);
    } catch (const cv::Exception &e) {
        qWarning() << "Thumbnail decode failed for" << sourcePath << e.what();
        image.release();
    }
    return image;
}

cv::Mat shrunk(const cv::Mat &image)
{
    const int longSide = std::max(image.cols, image.rows);
    if (longSide <= ThumbnailMaker::kLongSide)
        return image;
    const double scale = double(ThumbnailMaker::kLongSide) / longSide;
    cv::Mat result;
    cv::resize(image, result, cv::Size(std::max(1, int(image.cols * scale)), std::max(1, int(image.rows * scale))),
               0, 0, cv::INTER_AREA);
    return result;
}

bool writeInPlace(const QString &thumbnailPath, const std::vector<uchar> &jpeg)
{
    const QFileInfo target(thumbnailPath);
    QTemporaryFile file(target.dir().filePath(target.fileName() + QStringLiteral(".XXXXXX")));
    if (!file.open()) {
        qWarning() << "Cannot create thumbnail" << thumbnailPath << file.errorString();
        return false;
    }
    const qint64 size = qint64(jpeg.size());
    if (file.write(reinterpret_cast<const char *>(jpeg.data()), size) != size || !file.flush()) {
        qWarning() << "Cannot write thumbnail" << thumbnailPath << file.errorString();
        return false;
    }
    file.close();
    FileReplace::sync(file.fileName());
    QString error;
    if (!FileReplace::replace(file.fileName(), thumbnailPath, &error)) {
        qWarning() << "Cannot move thumbnail into place" << thumbnailPath << error;
        return false;
    }
    file.setAutoRemove(false);
    return true;
}

} // namespace

namespace ThumbnailMaker {

bool make(const QString &sourcePath, const QString &thumbnailPath, int orientation,
          const QByteArray &embeddedPreview)
{
    const cv::Mat decoded = decode(sourcePath, embeddedPreview);
    if (decoded.empty()) {
        qWarning() << "Cannot make a thumbnail of" << sourcePath;
        return false;
    }
    const cv::Mat upright = ExifOrientation::upright(shrunk(decoded), orientation);
    std::vector<uchar> jpeg;
    if (!cv::imencode(".jpg", upright, jpeg, {cv::IMWRITE_JPEG_QUALITY, kJpegQuality}))
        return false;
    return writeInPlace(thumbnailPath, jpeg);
}

} // namespace ThumbnailMaker
