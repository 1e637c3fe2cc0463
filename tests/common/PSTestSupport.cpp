#include "PSTestSupport.h"

#include "TestHelpers.h"

#include "psplugin/PSPluginData.h"

#include <QDir>
#include <QScopeGuard>

namespace PSTestSupport {

QString binPath(const char *program)
{
    return QDir(TestHelpers::binDir()).filePath(QLatin1String(program));
}

ProcessResult collect(QProcess &process, int timeoutMs)
{
    ProcessResult result;
    result.finished = process.waitForFinished(timeoutMs);
    if (!result.finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    result.exitCode = process.exitCode();
    result.standardOutput = QString::fromUtf8(process.readAllStandardOutput());
    result.standardError = QString::fromUtf8(process.readAllStandardError());
    const QStringList lines = TestHelpers::outputLines(result.standardOutput);
    for (const QString &line : lines) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq > 0 && !line.startsWith(QLatin1String("ovfilterhost:")))
            result.values.insert(line.left(eq), line.mid(eq + 1));
    }
    return result;
}

ProcessResult run(const QString &program, const QStringList &args, int timeoutMs)
{
    QProcess process;
    process.start(program, args);
    if (!process.waitForStarted(10000))
        return ProcessResult();
    return collect(process, timeoutMs);
}

HostImage makeHostImage(int width, int height, bool gray, bool mask)
{
    const auto ramp = [width, height](int dx, int dy, int offset) {
        cv::Mat plane(height, width, CV_16UC1);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x)
                plane.at<uint16_t>(y, x) = uint16_t((offset + x * dx + y * dy) % 32768);
        }
        return plane;
    };
    HostImage image{width, height, gray, {}, {}};
    for (int k = 0; k < 3; ++k)
        image.planes[k] = ramp(97, 31, gray ? 0 : k * 5003);
    if (mask)
        image.mask = ramp(-13, -7, 32767 + 65536);
    return image;
}

bool createReleasedSession(FilterHostSession &session, const HostImage &image, const HostSetup &setup)
{
    FilterHostSession::removeStaleChannels();
    QString error;
    if (!session.create(image, setup, &error)) {
        qWarning() << error;
        return false;
    }
    session.releaseLocks();
    return true;
}

PSPluginData *startBackEnd(FilterHostSession *&session, const HostImage &image, const HostSetup &setup)
{
    session = new FilterHostSession;
    if (!createReleasedSession(*session, image, setup))
        return nullptr;
    auto *backEnd = new PSPluginData();
    backEnd->start();
    return backEnd;
}

namespace {

QtMsgType g_collectedType = QtDebugMsg;
QStringList g_collected;
QtMessageHandler g_previousHandler = nullptr;

void collectMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == g_collectedType)
        g_collected << message;
    g_previousHandler(type, context, message);
}

} // namespace

QStringList messagesDuring(QtMsgType type, const std::function<void()> &call)
{
    g_collectedType = type;
    g_collected.clear();
    g_previousHandler = qInstallMessageHandler(collectMessage);
    const auto restore = qScopeGuard([] { qInstallMessageHandler(g_previousHandler); });
    call();
    return g_collected;
}

void endBackEnd(FilterHostSession *&session, PSPluginData *&backEnd)
{
    delete backEnd;
    backEnd = nullptr;
    if (session)
        session->removeAll();
    delete session;
    session = nullptr;
}

} // namespace PSTestSupport
