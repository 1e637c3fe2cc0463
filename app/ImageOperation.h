#ifndef IMAGEOPERATION_H
#define IMAGEOPERATION_H

#include "imaging/ImageData.h"

#include <QString>

#include <opencv2/core/mat.hpp>

#include <memory>

// The demo processing of lumivex: "identity" leaves the image as it is, "enhance" works on the
// luminance (a tone stretch between robust percentiles, then regional contrast) and then sharpens
// with an unsharp mask. Colour and alpha are kept; size, depth and channel count never change, so a
// filter host (which refuses new dimensions) takes the result back.
class ImageOperation
{
public:
    enum Kind { Identity, Enhance };

    static Kind fromName(const QString &name, bool *known);
    static QString name(Kind kind);

    // Identity hands the same image back; enhance makes a new one and leaves the input alone.
    static std::shared_ptr<ImageData> apply(Kind kind, const std::shared_ptr<ImageData> &image);

    // `image`: 8-bit, 16-bit or float (values in [0, 1]), 1, 3 or 4 channels in R, G, B(, A) order.
    static cv::Mat enhance(const cv::Mat &image);

private:
    static cv::Mat equalizedLuminance(const cv::Mat &colour);
    static cv::Mat adaptiveEqualize(const cv::Mat &plane, double fullScale);
    static cv::Mat stretched(const cv::Mat &plane, double fullScale);
    static cv::Mat localContrast(const cv::Mat &plane);
    static cv::Mat unsharpMask(const cv::Mat &colour);
};

#endif // IMAGEOPERATION_H
