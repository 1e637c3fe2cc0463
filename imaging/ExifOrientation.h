#ifndef EXIFORIENTATION_H
#define EXIFORIENTATION_H

#include <opencv2/core.hpp>

namespace ExifOrientation {

// Turns an image stored with EXIF orientation `orientation` (1..8) upright. Orientation 1 and
// unknown values give the input back without a copy; every other value costs one pass (two for
// the transverse case 7, which OpenCV has no single operation for).
inline cv::Mat upright(const cv::Mat &stored, int orientation)
{
    cv::Mat result;
    switch (orientation) {
    case 2:
        cv::flip(stored, result, 1);
        break;
    case 3:
        cv::rotate(stored, result, cv::ROTATE_180);
        break;
    case 4:
        cv::flip(stored, result, 0);
        break;
    case 5:
        cv::transpose(stored, result);
        break;
    case 6:
        cv::rotate(stored, result, cv::ROTATE_90_CLOCKWISE);
        break;
    case 7:
        cv::transpose(stored, result);
        cv::flip(result, result, -1);
        break;
    case 8:
        cv::rotate(stored, result, cv::ROTATE_90_COUNTERCLOCKWISE);
        break;
    default:
        return stored;
    }
    return result;
}

} // namespace ExifOrientation

#endif // EXIFORIENTATION_H
