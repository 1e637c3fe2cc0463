#include "FilterHostRun.h"

#include "HostImageCodec.h"

#include <QFile>
#include <QJsonDocument>
#include <QTextStream>

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

const char *const FilterHostRun::Marker = "Orvane_Lumivex_PS_Plugin";

namespace {

void printErr(const QString &text)
{
    std::fprintf(stderr, "ovfilterhost: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

bool readFile(const QString &path, QByteArray *bytes, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1").arg(path);
        return false;
    }
    *bytes = file.readAll();
    return true;
}

} // namespace

FilterHostRun::FilterHostRun(const FilterHostOptions &opts)
    : options(opts)
{
}

int FilterHostRun::run()
{
    if (!readInputs())
        return UsageError;
    for (const QString &name : FilterHostSession::removeStaleChannels())
        printErr(QStringLiteral("warning: removed stale shared memory channel %1").arg(name));
    QString error;
    if (!session.create(image, options.setup, &error)
        || !HostCorruption::apply(options.corruptions, session, &error)) {
        session.removeAll();
        return fail(UsageError, error);
    }
    if (!startApplication()) {
        session.removeAll();
        return UsageError;
    }
    bool handedBack = false;
    if (options.keepLocks) {
        QElapsedTimer timer;
        timer.start();
        waitForEnd(timer);
    } else {
        session.releaseLocks();
        handedBack = waitForHandBack();
    }
    const int code = finish(handedBack);
    session.removeAll();
    return code;
}

bool FilterHostRun::readInputs()
{
    QString error;
    if (!HostImageCodec::readFile(options.inputImage, options.gray, options.noMask, &image, &error))
        return refuse(error);
    if (!options.iccFile.isEmpty() && !readFile(options.iccFile, &options.setup.icc, &error))
        return refuse(error);
    if (!options.settingsIn.isEmpty()) {
        QByteArray json;
        if (!readFile(options.settingsIn, &json, &error))
            return refuse(error);
        QJsonParseError parseError;
        const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
        if (!doc.isObject())
            return refuse(QStringLiteral("%1 is not a JSON object").arg(options.settingsIn));
        options.setup.settings = doc.object();
        // Megabytes: too large for a stack, which Windows gives 1 MB by default.
        const auto probe = std::make_unique<IPCSettings>();
        if (!FilterHostSession::writeSettings(probe.get(), options.setup.settings, &error))
            return refuse(error);
    }
    return true;
}

bool FilterHostRun::startApplication()
{
    QString error;
    if (!child.start(options.program, QString::fromLatin1(Marker), options.programArgs, &error)) {
        fail(UsageError, error);
        return false;
    }
    return true;
}

// The application takes the param lock in its constructor and gives it back in cleanup(); the
// record is final once this side can take the lock again. A program that ends first has either
// failed (status 2) or crashed.
bool FilterHostRun::waitForHandBack()
{
    QElapsedTimer timer;
    timer.start();
    const qint64 limit = qint64(options.timeoutSeconds) * 1000;
    bool taken = false;
    while (!session.param().isHeldByOther() && session.record()->status == FilterHostSession::UntouchedStatus) {
        pumpOutput();
        if (child.hasEnded() || timer.elapsed() > limit)
            break;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    while (!child.hasEnded() && timer.elapsed() <= limit) {
        pumpOutput();
        if (session.param().tryLock()) {
            taken = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (!taken && child.hasEnded())
        taken = session.param().tryLock();
    waitForEnd(timer);
    return taken;
}

// The application decides when it quits; it gets the rest of the time limit to do so.
void FilterHostRun::waitForEnd(const QElapsedTimer &timer)
{
    const qint64 limit = qint64(options.timeoutSeconds) * 1000;
    while (!child.hasEnded() && timer.elapsed() <= limit) {
        pumpOutput();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (!child.hasEnded()) {
        printErr(QStringLiteral("%1 did not end within %2 s; ending it").arg(options.program).arg(options.timeoutSeconds));
        child.kill();
        while (!child.hasEnded())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    pumpOutput();
}

void FilterHostRun::pumpOutput()
{
    const QByteArray chunk = child.readOutput();
    if (chunk.isEmpty())
        return;
    std::fwrite(chunk.constData(), 1, std::size_t(chunk.size()), stdout);
    std::fflush(stdout);
    pendingOutput += chunk;
    qsizetype newline;
    while ((newline = pendingOutput.indexOf('\n')) >= 0) {
        const QByteArray line = pendingOutput.left(newline).trimmed();
        pendingOutput.remove(0, newline + 1);
        if (line.startsWith("hostDisplayName="))
            hostDisplayName = QString::fromUtf8(line.mid(int(sizeof("hostDisplayName=")) - 1));
    }
}

int FilterHostRun::finish(bool handedBack)
{
    const int status = session.record()->status;
    const QString message = session.hostErrorMessage();
    if (status == 2) {
        printErr(QStringLiteral("the application failed: %1").arg(message));
        printSummary(status, message, QString());
        return Failed;
    }
    if (!handedBack || status == FilterHostSession::UntouchedStatus) {
        printErr(QStringLiteral("%1 ended (exit code %2) without handing back the param lock")
                     .arg(options.program)
                     .arg(child.exitCode()));
        printSummary(status, message, QString());
        return Crashed;
    }
    QString error;
    if (!options.settingsOut.isEmpty()) {
        QFile file(options.settingsOut);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
            || file.write(QJsonDocument(session.readSettings()).toJson()) < 0)
            return fail(UsageError, QStringLiteral("cannot write %1").arg(options.settingsOut));
    }
    if (status == 0 && !HostImageCodec::writeFile(options.outputImage, session.readImage(), &error))
        return fail(UsageError, error);
    printSummary(status, message, status == 0 ? options.outputImage : QString());
    return status == 0 ? Delivered : NotDelivered;
}

bool FilterHostRun::refuse(const QString &message)
{
    printErr(message);
    return false;
}

int FilterHostRun::fail(int code, const QString &message)
{
    printErr(message);
    return code;
}

void FilterHostRun::printSummary(int status, const QString &message, const QString &output)
{
    QTextStream out(stdout);
    out << "ovfilterhost: status=" << status << " message=\"" << message << "\" host=\"" << hostDisplayName
        << "\" exit=" << child.exitCode() << " output=\"" << output << "\"\n";
}
