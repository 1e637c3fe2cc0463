#ifndef CVUTILS_H
#define CVUTILS_H

#include "OvImagingGlobal.h"

#include <opencv2/core/mat.hpp>

/// Conversions of OpenCV matrices between sample depths, part of the image-utilities library.
/// Stateless: usable on any thread.
class OV_IMAGEUTILS_EXPORT CvUtils
{
public:
    /// A new matrix of the same size and channel count in `depth` (CV_8U, CV_16U or CV_32F),
    /// with the value range mapped: 8-bit [0, 255], 16-bit [0, 65535], float [0, 1].
    /// The input is left unchanged.
    ///
    /// CV_64F is taken too, with the float range. Values outside the source range saturate when the
    /// target is an integer depth. The same depth gives a copy.
    /// \param image the matrix to convert, of one of those depths.
    /// \param depth the depth of the result.
    /// \return the converted matrix; an empty one, with a warning in the log, when either depth is
    ///         another.
    static cv::Mat convert(const cv::Mat &image, int depth);
};

#endif // CVUTILS_H
