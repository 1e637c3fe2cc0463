#ifndef TESTHELPERS_H
#define TESTHELPERS_H

#include <QString>
#include <QByteArray>
#include <QList>
#include <QMap>
#include <QProcessEnvironment>
#include <QStringList>

#include <opencv2/core/mat.hpp>

namespace TestHelpers {

// Folder of the built programs (ovfilterhost, test helpers), from the environment ctest sets.
QString binDir();

// A deterministic test pattern: gradients and a checkerboard so that flips, rotations and
// channel swaps all show. `depth` is CV_8U or CV_16U; channels 1, 3 or 4.
cv::Mat makePattern(int width, int height, int depth, int channels);

// ExifTool is a dependency of the Linux build, where a missing one is a failure; no Windows
// build of it is installed for the Windows suite under Wine, which then skips what needs it.
bool exifToolMissingOnWindows();
#define OV_SKIP_WITHOUT_WINDOWS_EXIFTOOL()                                                         \
    do {                                                                                           \
        if (TestHelpers::exifToolMissingOnWindows())                                               \
            QSKIP("ExifTool is not installed for Windows here");                                   \
    } while (false)

// Runs ExifTool with `args` on `path` and waits for it; true when it exited 0.
bool runExifTool(const QStringList &args, const QString &path);

// Runs several ExifTool commands in one process (each list: arguments then the file, as on a
// command line); one start-up instead of many keeps tests fast. True when ExifTool exited 0.
bool runExifToolBatch(const QList<QStringList> &commands);

// Writes an image whose channels are in R, G, B(, A) order with OpenCV, which expects blue
// first; gray images are written as they are. True when the file was written.
bool writeRgbImage(const QString &path, const cv::Mat &rgb);

// Four flat quadrants in R, G, B order: top-left red, top-right green, bottom-left blue,
// bottom-right white. Any turn or flip of the picture shows in which corner holds which colour.
cv::Mat quadrants(int width, int height);

// The colour letters (R, G, B, W, or ? when unclear) of the four corners of an 8-bit
// three-channel image, top-left, top-right, bottom-left, bottom-right. `bgr` tells whether the
// channels are in OpenCV's blue-first order or in R, G, B order.
QString quadrantCorners(const cv::Mat &image, bool bgr);

// Tags of one file in one ExifTool run: bare tag name (e.g. "Orientation") to value (numeric,
// -n, trimmed); absent tags are missing from the map.
QMap<QString, QString> exifToolValues(const QString &path, const QStringList &tags);

// Makes `folder` this process's temporary folder: TMPDIR on POSIX, TMP and TEMP on Windows.
void setTemporaryFolder(const QString &folder);
// The same for a program the test starts.
void setTemporaryFolder(QProcessEnvironment &environment, const QString &folder);

// The environment for a program a test starts, with its own temporary and runtime folders
// (created under `root`, mode 0700), so that programs of parallel test runs never meet through
// sockets, thumbnails or other files. QT_QPA_PLATFORM is the test's own, offscreen by default.
QProcessEnvironment isolatedEnvironment(const QString &root);

// Makes `path` a program that plays a photo manager, a file manager or a shell under that file
// name: it starts the program given as its first argument, with the rest, as its child and
// ends with the child's exit code. A copy of the shell on Linux, of editor_parent on Windows.
// True when the copy was made (or is there).
bool makeLauncher(const QString &path);
// The arguments that make such a launcher start `program` with `arguments`.
QStringList launcherArguments(const QString &program, const QStringList &arguments);

// A program's output as lines, without their line ends: Windows programs end theirs in "\r\n".
QStringList outputLines(const QString &output, Qt::SplitBehavior behavior = Qt::KeepEmptyParts);

// Linux process table. The fields of /proc/PID/stat that follow the command name (index 0 is
// the state, 1 the parent id, 11 and 12 user and system time in ticks); empty once it is gone.
QList<QByteArray> processStatFields(qint64 pid);
// The argument elements of a process, argv[0] first.
QList<QByteArray> processArguments(qint64 pid);
// The processes whose parent is this one.
QList<qint64> childProcesses();

// Writes an executable `exiftool` into `folder` that runs the POSIX shell `body` in place of
// ExifTool: the broken installs and wrappers that a test puts first on PATH. False on Windows,
// which starts only .exe files under that name.
bool writeStandInExifTool(const QString &folder, const QByteArray &body);
// Puts `folder` first on this process's PATH; returns the PATH before.
QByteArray prependToPath(const QString &folder);
// The most memory this process has held so far (VmHWM), in bytes; -1 where it cannot be read.
qint64 peakMemoryBytes();

} // namespace TestHelpers

#endif // TESTHELPERS_H
