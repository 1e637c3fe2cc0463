#include "HostImageCodec.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>

namespace {

cv::Mat toHostPlane(const cv::Mat &channel)
{
    const unsigned maxValue = channel.depth() == CV_16U ? 65535u : 255u;
    cv::Mat plane(channel.size(), CV_16UC1);
    for (int y = 0; y < channel.rows; ++y) {
        auto *out = plane.ptr<uint16_t>(y);
        for (int x = 0; x < channel.cols; ++x) {
            const unsigned v = channel.depth() == CV_16U ? channel.ptr<uint16_t>(y)[x] : channel.ptr<uint8_t>(y)[x];
            out[x] = HostImageCodec::toHost(v, maxValue);
        }
    }
    return plane;
}

cv::Mat fromHostPlane(const cv::Mat &plane)
{
    cv::Mat channel(plane.size(), CV_16UC1);
    for (int y = 0; y < plane.rows; ++y) {
        const auto *in = plane.ptr<uint16_t>(y);
        auto *out = channel.ptr<uint16_t>(y);
        for (int x = 0; x < plane.cols; ++x)
            out[x] = HostImageCodec::fromHost(in[x]);
    }
    return channel;
}

} // namespace

uint16_t HostImageCodec::toHost(unsigned value, unsigned maxValue)
{
    return static_cast<uint16_t>((value * 32767u + maxValue / 2) / maxValue);
}

uint16_t HostImageCodec::fromHost(uint16_t sample)
{
    const unsigned s = std::min<unsigned>(sample, HostMax);
    return static_cast<uint16_t>((s * 65535u + HostMax / 2) / HostMax);
}

HostImage HostImageCodec::fromMat(const cv::Mat &image, bool forceGray, bool dropAlpha)
{
    std::vector<cv::Mat> channels;
    cv::split(image, channels);
    HostImage host;
    host.width = image.cols;
    host.height = image.rows;
    const bool hasAlpha = channels.size() == 4 || channels.size() == 2;
    if (hasAlpha && !dropAlpha)
        host.mask = toHostPlane(channels.back());

    cv::Mat gray;
    if (channels.size() <= 2) {
        gray = channels[0];
    } else if (forceGray) {
        cv::Mat bgr;
        cv::merge(std::vector<cv::Mat>{channels[0], channels[1], channels[2]}, bgr);
        cv::cvtColor(bgr, gray, cv::COLOR_BGR2GRAY);
    }
    if (!gray.empty()) {
        host.gray = true;
        const cv::Mat plane = toHostPlane(gray);
        for (auto &p : host.planes)
            p = plane.clone();
        return host;
    }
    // OpenCV keeps blue first; the host's planes are red, green, blue.
    for (int k = 0; k < 3; ++k)
        host.planes[k] = toHostPlane(channels[2 - k]);
    return host;
}

bool HostImageCodec::readFile(const QString &path, bool forceGray, bool dropAlpha, HostImage *out, QString *error)
{
    const cv::Mat image = cv::imread(path.toStdString(), cv::IMREAD_UNCHANGED);
    if (image.empty() || (image.depth() != CV_8U && image.depth() != CV_16U)) {
        *error = QStringLiteral("cannot read %1 as an 8- or 16-bit image").arg(path);
        return false;
    }
    *out = fromMat(image, forceGray, dropAlpha);
    return true;
}

cv::Mat HostImageCodec::toMat(const HostImage &image)
{
    std::vector<cv::Mat> channels;
    if (image.gray) {
        const cv::Mat g = fromHostPlane(image.planes[0]);
        channels = image.mask.empty() ? std::vector<cv::Mat>{g} : std::vector<cv::Mat>{g, g, g};
    } else {
        for (int k = 2; k >= 0; --k)
            channels.push_back(fromHostPlane(image.planes[k]));
    }
    if (!image.mask.empty())
        channels.push_back(fromHostPlane(image.mask));
    cv::Mat result;
    cv::merge(channels, result);
    return result;
}

bool HostImageCodec::writeFile(const QString &path, const HostImage &image, QString *error)
{
    bool written = false;
    try {
        written = cv::imwrite(path.toStdString(), toMat(image));
    } catch (const cv::Exception &e) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, QString::fromUtf8(e.what()));
        return false;
    }
    if (!written)
        *error = QStringLiteral("cannot write %1").arg(path);
    return written;
}
