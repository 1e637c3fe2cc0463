#include "SampleImage.h"

#include <QFile>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace {

cv::Vec3f mix(const cv::Vec3f &a, const cv::Vec3f &b, float t)
{
    return a * (1.0f - t) + b * t;
}

float hillLine(float x, float base, float amplitude, float phase)
{
    return base + amplitude * (0.6f * std::sin(x * 6.3f + phase) + 0.4f * std::sin(x * 17.0f + 2 * phase));
}

} // namespace

cv::Mat SampleImage::landscape(int width, int height)
{
    cv::Mat rgb(height, width, CV_32FC3);
    const cv::Vec3f skyTop(0.42f, 0.55f, 0.72f), skyLow(0.70f, 0.72f, 0.74f);
    const cv::Vec3f farHill(0.45f, 0.50f, 0.52f), nearHill(0.33f, 0.42f, 0.30f);
    const cv::Vec3f water(0.40f, 0.48f, 0.56f), sun(0.95f, 0.88f, 0.70f);
    cv::RNG rng(20240517);
    for (int y = 0; y < height; ++y) {
        const float v = float(y) / float(height);
        for (int x = 0; x < width; ++x) {
            const float u = float(x) / float(width);
            cv::Vec3f c = mix(skyTop, skyLow, std::min(1.0f, v / 0.55f));
            const float du = (u - 0.72f) * float(width) / float(height), dv = v - 0.22f;
            const float sunDistance = std::sqrt(du * du + dv * dv);
            c = mix(c, sun, std::clamp(1.0f - (sunDistance - 0.06f) / 0.05f, 0.0f, 1.0f));
            if (v > hillLine(u, 0.45f, 0.05f, 0.3f))
                c = farHill * (0.95f + 0.1f * u);
            if (v > hillLine(u, 0.55f, 0.04f, 1.7f)) {
                const float leaf = 0.85f + 0.3f * float(((x / 3) * 7 + (y / 3) * 13) % 5) / 5.0f;
                c = nearHill * leaf;
            }
            if (v > 0.68f) {
                // The lake mirrors the scene above its shore, with ripples.
                const int mirrored = std::clamp(int((1.36f - v) * height), 0, y);
                const cv::Vec3f above =
                    rgb.at<cv::Vec3f>(mirrored, std::clamp(x + int(3 * std::sin(y * 0.7f)), 0, width - 1));
                c = mix(water, above, 0.45f);
            }
            const float grain = float(rng.gaussian(0.006));
            rgb.at<cv::Vec3f>(y, x) = c + cv::Vec3f(grain, grain, grain);
        }
    }
    cv::Mat result;
    rgb.convertTo(result, CV_8UC3, 255.0);
    return result;
}

bool SampleImage::write(const QString &path, int width, int height)
{
    cv::Mat bgr;
    cv::cvtColor(landscape(width, height), bgr, cv::COLOR_RGB2BGR);
    // OpenCV throws for a name whose extension no encoder knows.
    try {
        return cv::imwrite(QFile::encodeName(path).toStdString(), bgr);
    } catch (const cv::Exception &) {
        return false;
    }
}
