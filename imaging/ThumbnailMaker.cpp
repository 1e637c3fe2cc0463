#include "ThumbnailMaker.h"

#include "AtomicFileWriter.h"
#include "ExifOrientation.h"

#include <QDebug>
#include <QFile>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <vector>

namespace {

constexpr int JpegQuality = 90;
// The orientation comes from the caller, so the decoders must not apply the file's own as well.
constexpr int PreviewFlags = cv::IMREAD_COLOR | cv::IMREAD_IGNORE_ORIENTATION;
constexpr int ReducedFlags = cv::IMREAD_REDUCED_COLOR_4 | cv::IMREAD_IGNORE_ORIENTATION;

cv::Mat decode(const QString &sourcePath, const QByteArray &preview)
{
    cv::Mat image;
    try {
        if (!preview.isEmpty()) {
            const cv::Mat bytes(1, int(preview.size()), CV_8U, const_cast<char *>(preview.constData()));
            image = cv::imdecode(bytes, PreviewFlags);
        }
        if (image.empty())
            image = cv::imread(QFile::encodeName(sourcePath).toStdString(), ReducedFlags);
    } catch (const cv::Exception &e) {
        qWarning() << "Thumbnail decode failed for" << sourcePath << e.what();
        image.release();
    }
    return image;
}

cv::Mat shrunk(const cv::Mat &image)
{
    const int longSide = std::max(image.cols, image.rows);
    if (longSide <= ThumbnailMaker::LongSide)
        return image;
    const double scale = double(ThumbnailMaker::LongSide) / longSide;
    cv::Mat result;
    cv::resize(image, result, cv::Size(std::max(1, int(image.cols * scale)), std::max(1, int(image.rows * scale))), 0,
               0, cv::INTER_AREA);
    return result;
}

bool writeInPlace(const QString &thumbnailPath, const std::vector<uchar> &jpeg)
{
    AtomicFileWriter file(thumbnailPath);
    if (!file.open() || !file.write(reinterpret_cast<const char *>(jpeg.data()), qint64(jpeg.size()))
        || !file.commit()) {
        qWarning() << "Cannot write thumbnail" << thumbnailPath << file.errorString();
        return false;
    }
    return true;
}

} // namespace

namespace ThumbnailMaker {

bool make(const QString &sourcePath, const QString &thumbnailPath, int orientation, const QByteArray &embeddedPreview)
{
    const cv::Mat decoded = decode(sourcePath, embeddedPreview);
    if (decoded.empty()) {
        qWarning() << "Cannot make a thumbnail of" << sourcePath;
        return false;
    }
    const cv::Mat upright = ExifOrientation::upright(shrunk(decoded), orientation);
    std::vector<uchar> jpeg;
    if (!cv::imencode(".jpg", upright, jpeg, {cv::IMWRITE_JPEG_QUALITY, JpegQuality}))
        return false;
    return writeInPlace(thumbnailPath, jpeg);
}

} // namespace ThumbnailMaker
