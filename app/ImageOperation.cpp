#include "ImageOperation.h"

#include "imaging/CvUtils.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <vector>

namespace {

// Strength of the regional contrast: enough to show, little enough to avoid halos.
constexpr double LocalContrastAmount = 0.4;
constexpr double StretchStrength = 0.6;
constexpr double SurroundingsSigmaPixels = 4.0;
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
    cv::min(cv::max(channels[0], 0.0), LabLightnessScale, channels[0]);
    cv::merge(channels, lab);
    cv::Mat rgb;
    cv::cvtColor(lab, rgb, cv::COLOR_Lab2RGB);
    return rgb;
}

cv::Mat ImageOperation::adaptiveEqualize(const cv::Mat &plane, double fullScale)
{
    return localContrast(stretched(plane, fullScale));
}

cv::Mat ImageOperation::stretched(const cv::Mat &plane, double fullScale)
{
    // Haze lifts the darkest and dims the brightest tones: spread the tones between the 0.5th and
    // the 99.5th percentile over nearly the whole range, leaving a little room at both ends.
    const float range[] = {0.0f, float(fullScale)};
    const float *ranges[] = {range};
    const int bins = 1000;
    cv::Mat histogram;
    cv::calcHist(&plane, 1, nullptr, cv::Mat(), histogram, 1, &bins, ranges);
    const double total = cv::sum(histogram)[0];
    auto percentile = [&](double fraction) {
        double seen = 0.0;
        for (int i = 0; i < bins; ++i) {
            seen += histogram.at<float>(i);
            if (seen >= fraction * total)
                return fullScale * (i + 0.5) / bins;
        }
        return fullScale;
    };
    const double low = percentile(0.005), high = percentile(0.995);
    if (high - low < fullScale * 0.05)
        return plane.clone(); // a nearly flat picture has nothing to stretch
    // Only part of the way, so that the mood of the picture survives.
    const double targetLow = low + StretchStrength * (fullScale * 0.02 - low);
    const double targetHigh = high + StretchStrength * (fullScale * 0.98 - high);
    const double gain = (targetHigh - targetLow) / (high - low);
    cv::Mat result;
    plane.convertTo(result, CV_32F, gain, targetLow - low * gain);
    return result;
}

cv::Mat ImageOperation::localContrast(const cv::Mat &plane)
{
    // A wide unsharp mask on the tones ("clarity"): each region is set off against its
    // surroundings without the tile seams of block-wise equalisation.
    // The surroundings are wide and smooth, so they are blurred at a reduced size where the
    // radius is a few pixels: a full-size kernel would take seconds on a camera frame.
    const double sigma = std::max(2.0, std::min(plane.rows, plane.cols) / 30.0);
    const double scale = std::min(1.0, SurroundingsSigmaPixels / sigma);
    cv::Mat reduced;
    cv::resize(plane, reduced, cv::Size(), scale, scale, cv::INTER_AREA);
    cv::GaussianBlur(reduced, reduced, cv::Size(), sigma * scale);
    cv::Mat surroundings;
    cv::resize(reduced, surroundings, plane.size(), 0, 0, cv::INTER_LINEAR);
    cv::Mat result;
    cv::addWeighted(plane, 1.0 + LocalContrastAmount, surroundings, -LocalContrastAmount, 0.0, result);
    return result;
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
