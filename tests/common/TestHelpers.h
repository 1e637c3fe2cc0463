#ifndef TESTHELPERS_H
#define TESTHELPERS_H

#include <QString>
#include <QStringList>

#include <opencv2/core/mat.hpp>

namespace TestHelpers {

// Folder of the built programs (ovfilterhost, test helpers), from the environment ctest sets.
QString binDir();

// A deterministic test pattern: gradients and a checkerboard so that flips, rotations and
// channel swaps all show. `depth` is CV_8U or CV_16U; channels 1, 3 or 4.
cv::Mat makePattern(int width, int height, int depth, int channels);

// Runs ExifTool with `args` on `path` and waits for it; true when it exited 0.
bool runExifTool(const QStringList &args, const QString &path);

} // namespace TestHelpers

#endif // TESTHELPERS_H
