#include "ImageOperation.h"

#include "imaging/CvUtils.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <vector>

namespace {

// Contrast limit of the equalisation: high enough to show, low enough not to amplify noise.
constexpr double ClipLimit = 2.0;
constexpr double SharpenAmount = 0.6;
constexpr double LabLightnessScale = 100.0;

} // namespace

ImageOperation::Kind ImageOperation::fromName(const QString &name, bool *known)
{
    *known = true;
    if (name == QLatin1String("enhance"))
        return Enhance;
    *known = name == QLatin1String("identity");
    return Identity;
}

QString ImageOperation::name(Kind kind)
{
    return kind == Enhance ? QStringLiteral("enhance") : QStringLiteral("identity");
}

std::shared_ptr<ImageData> ImageOperation::apply(Kind kind, const std::shared_ptr<ImageData> &image)
{
    if (!image || kind == Identity)
        return image;
    return std::make_shared<ImageData>(enhance(image->mat()), cv::Mat());
}

cv::Mat ImageOperation::enhance(const cv::Mat &image)
{
    if (image.empty())
        return cv::Mat();
    const int depth = image.depth();
    const cv::Mat working = CvUtils::convert(image, CV_32F);
    if (working.empty())
        return image.clone();

    std::vector<cv::Mat> planes;
    cv::split(working, planes);
    const bool hasAlpha = planes.size() == 4 || planes.size() == 2;
    cv::Mat alpha;
    if (hasAlpha) {
        alpha = planes.back();
        planes.pop_back();
    }
    cv::Mat colour;
    cv::merge(planes, colour);
    cv::min(cv::max(colour, 0.0), 1.0, colour);

    cv::Mat result = unsharpMask(equalizedLuminance(colour));
    cv::min(cv::max(result, 0.0), 1.0, result);

    if (hasAlpha) {
        std::vector<cv::Mat> withAlpha;
        cv::split(result, withAlpha);
        withAlpha.push_back(alpha);
        cv::merge(withAlpha, result);
    }
    return CvUtils::convert(result, depth);
}

cv::Mat ImageOperation::equalizedLuminance(const cv::Mat &colour)
{
    if (colour.channels() == 1)
        return adaptiveEqualize(colour, 1.0);
    // Equalising lightness alone keeps hue and saturation where the photographer had them.
    cv::Mat lab;
    cv::cvtColor(colour, lab, cv::COLOR_RGB2Lab);
    std::vector<cv::Mat> channels;
    cv::split(lab, channels);
    channels[0] = adaptiveEqualize(channels[0], LabLightnessScale);
    cv::merge(channels, lab);
    cv::Mat rgb;
    cv::cvtColor(lab, rgb, cv::COLOR_Lab2RGB);
    return rgb;
}

cv::Mat ImageOperation::adaptiveEqualize(const cv::Mat &plane, double fullScale)
{
    // OpenCV equalises 8- and 16-bit planes only; 16 bits keep the gradations of raw files.
    cv::Mat plane16;
    plane.convertTo(plane16, CV_16U, 65535.0 / fullScale);
    const int shortSide = std::min(plane.rows, plane.cols);
    const int tiles = std::clamp(shortSide / 64, 1, 8);
    cv::Ptr<cv::CLAHE> clahe = cv::createCLAHE(ClipLimit, cv::Size(tiles, tiles));
    cv::Mat equalized16;
    clahe->apply(plane16, equalized16);
    cv::Mat equalized;
    equalized16.convertTo(equalized, CV_32F, fullScale / 65535.0);
    return equalized;
}

cv::Mat ImageOperation::unsharpMask(const cv::Mat &colour)
{
    // The radius follows the image size so that a thumbnail and a full frame look alike.
    const double sigma = std::max(1.0, std::min(colour.rows, colour.cols) / 500.0);
    cv::Mat blurred;
    cv::GaussianBlur(colour, blurred, cv::Size(), sigma);
    cv::Mat sharpened;
    cv::addWeighted(colour, 1.0 + SharpenAmount, blurred, -SharpenAmount, 0.0, sharpened);
    return sharpened;
}
