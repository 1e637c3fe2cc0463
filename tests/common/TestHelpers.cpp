#include "TestHelpers.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QProcessEnvironment>
#include <QRegularExpression>

#include <QDir>
#include <QFile>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <vector>

namespace TestHelpers {

QString binDir()
{
    const QString fromEnv = qEnvironmentVariable("OV_BUILD_BIN_DIR");
    return fromEnv.isEmpty() ? QCoreApplication::applicationDirPath() : fromEnv;
}

cv::Mat makePattern(int width, int height, int depth, int channels)
{
    const double maxValue = depth == CV_16U ? 65535.0 : 255.0;
    cv::Mat image(height, width, CV_64FC(channels));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double values[4] = {
                maxValue * x / std::max(1, width - 1),
                maxValue * y / std::max(1, height - 1),
                ((x / 8 + y / 8) % 2) ? maxValue : 0.0,
                maxValue * (0.25 + 0.75 * x / std::max(1, width - 1)),
            };
            for (int c = 0; c < channels; ++c)
                image.ptr<double>(y)[x * channels + c] = values[c];
        }
    }
    image.convertTo(image, depth); // rounds and saturates like saturate_cast
    return image;
}

bool exifToolMissingOnWindows()
{
#ifdef Q_OS_WIN
    return QStandardPaths::findExecutable(QStringLiteral("exiftool")).isEmpty();
#else
    return false;
#endif
}

bool runExifToolBatch(const QList<QStringList> &commands)
{
    QByteArray argumentLines;
    for (const QStringList &command : commands) {
        for (const QString &argument : command)
            argumentLines += argument.toUtf8() + '\n';
        argumentLines += "-overwrite_original\n-execute\n";
    }
    QProcess process;
    process.start(QStringLiteral("exiftool"), {QStringLiteral("-@"), QStringLiteral("-")});
    process.write(argumentLines);
    process.closeWriteChannel();
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
}

bool runExifTool(const QStringList &args, const QString &path)
{
    return runExifToolBatch({QStringList(args) << path});
}

bool writeRgbImage(const QString &path, const cv::Mat &rgb)
{
    std::vector<cv::Mat> planes;
    cv::split(rgb, planes);
    if (planes.size() >= 3)
        std::swap(planes[0], planes[2]);
    cv::Mat encoderOrder;
    cv::merge(planes, encoderOrder);
    return cv::imwrite(QFile::encodeName(path).toStdString(), encoderOrder);
}

QMap<QString, QString> exifToolValues(const QString &path, const QStringList &tags)
{
    QStringList arguments{QStringLiteral("-s"), QStringLiteral("-n")};
    for (const QString &tag : tags)
        arguments << QLatin1Char('-') + tag;
    QProcess process;
    process.start(QStringLiteral("exiftool"), arguments << path);
    QMap<QString, QString> values;
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return values;
    // Lines read "Tag<blanks>: value".
    const QStringList lines = outputLines(QString::fromUtf8(process.readAllStandardOutput()));
    for (const QString &line : lines) {
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon > 0)
            values.insert(line.left(colon).trimmed(), line.mid(colon + 1).trimmed());
    }
    return values;
}

bool makeLauncher(const QString &path)
{
#ifdef Q_OS_WIN
    const QString original = binDir() + QStringLiteral("/editor_parent.exe");
#else
    const QString original = QStringLiteral("/bin/sh");
#endif
    if (!QFile::exists(path) && !QFile::copy(original, path))
        return false;
    return QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QStringList launcherArguments(const QString &program, const QStringList &arguments)
{
    const QStringList command = QStringList{QDir::toNativeSeparators(program)} + arguments;
#ifdef Q_OS_WIN
    return command;
#else
    // A command follows the program, so the shell runs it as its child instead of exec'ing it.
    return QStringList{QStringLiteral("-c"), QStringLiteral("\"$0\" \"$@\"; exit $?")} + command;
#endif
}

QStringList outputLines(const QString &output, Qt::SplitBehavior behavior)
{
    static const QRegularExpression lineEnd(QStringLiteral("\r?\n"));
    return output.split(lineEnd, behavior);
}

bool writeStandInExifTool(const QString &folder, const QByteArray &body)
{
#ifdef Q_OS_WIN
    Q_UNUSED(folder)
    Q_UNUSED(body)
    return false;
#else
    QFile script(QDir(folder).filePath(QStringLiteral("exiftool")));
    if (!script.open(QIODevice::WriteOnly) || script.write("#!/bin/sh\n" + body + '\n') < 0)
        return false;
    script.close();
    return script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
#endif
}

QByteArray prependToPath(const QString &folder)
{
    const QByteArray before = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(QDir::toNativeSeparators(folder)) + QDir::listSeparator().toLatin1() + before);
    return before;
}

qint64 peakMemoryBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return -1;
}

void setTemporaryFolder(const QString &folder)
{
    for (const char *name : {"TMPDIR", "TMP", "TEMP"})
        qputenv(name, QFile::encodeName(QDir::toNativeSeparators(folder)));
}

void setTemporaryFolder(QProcessEnvironment &environment, const QString &folder)
{
    for (const char *name : {"TMPDIR", "TMP", "TEMP"})
        environment.insert(QLatin1String(name), QDir::toNativeSeparators(folder));
}

QProcessEnvironment isolatedEnvironment(const QString &root)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QDir dir(root);
    for (const char *folder : {"tmp", "runtime"}) {
        dir.mkpath(QLatin1String(folder));
        QFile::setPermissions(dir.filePath(QLatin1String(folder)),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    setTemporaryFolder(environment, dir.filePath(QStringLiteral("tmp")));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(QStringLiteral("runtime")));
    // The test's own platform (offscreen; minimal where the Qt at hand has no offscreen plugin).
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"),
                       qEnvironmentVariable("QT_QPA_PLATFORM", QStringLiteral("offscreen")));
    return environment;
}

cv::Mat quadrants(int width, int height)
{
    cv::Mat image(height, width, CV_8UC3);
    const int w = width / 2;
    const int h = height / 2;
    image(cv::Rect(0, 0, w, h)).setTo(cv::Scalar(255, 0, 0));
    image(cv::Rect(w, 0, width - w, h)).setTo(cv::Scalar(0, 255, 0));
    image(cv::Rect(0, h, w, height - h)).setTo(cv::Scalar(0, 0, 255));
    image(cv::Rect(w, h, width - w, height - h)).setTo(cv::Scalar(255, 255, 255));
    return image;
}

static QChar colourAt(const cv::Mat &image, bool bgr, int x, int y)
{
    cv::Vec3b p = image.at<cv::Vec3b>(y, x);
    if (bgr)
        std::swap(p[0], p[2]);
    QString levels; // per channel in R, G, B order: high, low or in between
    for (int c = 0; c < 3; ++c)
        levels += p[c] > 160 ? QLatin1Char('H') : p[c] < 96 ? QLatin1Char('L') : QLatin1Char('?');
    const qsizetype colour = QStringList{"HHH", "HLL", "LHL", "LLH"}.indexOf(levels);
    return colour < 0 ? QLatin1Char('?') : QLatin1Char("WRGB"[colour]);
}

QString quadrantCorners(const cv::Mat &image, bool bgr)
{
    // A few pixels in from each edge, away from resampling at the borders.
    const int right = image.cols - 4;
    const int bottom = image.rows - 4;
    return QString(colourAt(image, bgr, 3, 3)) + colourAt(image, bgr, right, 3)
        + colourAt(image, bgr, 3, bottom) + colourAt(image, bgr, right, bottom);
}

QList<QByteArray> processStatFields(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return {};
    // "pid (comm) state ppid ...": the command name may hold blanks, so count from the last ')'.
    const QByteArray line = stat.readAll();
    return line.mid(line.lastIndexOf(')') + 2).split(' ');
}

QList<QByteArray> processArguments(qint64 pid)
{
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!cmdline.open(QIODevice::ReadOnly))
        return {};
    return cmdline.readAll().split('\0');
}

QList<qint64> childProcesses()
{
    QList<qint64> children;
    const QByteArray self = QByteArray::number(QCoreApplication::applicationPid());
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (!numeric)
            continue;
        const QList<QByteArray> fields = processStatFields(pid);
        if (fields.size() > 1 && fields.at(1) == self)
            children << pid;
    }
    return children;
}

} // namespace TestHelpers
