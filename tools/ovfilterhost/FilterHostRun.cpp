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
    : m_options(opts)
{
}

int FilterHostRun::run()
{
    if (!readInputs())
        return UsageError;
    for (const QString &name : FilterHostSession::removeStaleChannels())
        printErr(QStringLiteral("warning: removed stale shared memory channel %1").arg(name));
    QString error;
    if (!m_session.create(m_image, m_options.setup, &error)
        || !HostCorruption::apply(m_options.corruptions, m_session, &error)) {
        m_session.removeAll();
        return fail(UsageError, error);
    }
    if (!startApplication()) {
        m_session.removeAll();
        return UsageError;
    }
    bool handedBack = false;
    if (m_options.keepLocks) {
        QElapsedTimer timer;
        timer.start();
        waitForEnd(timer);
    } else {
        m_session.releaseLocks();
        handedBack = waitForHandBack();
    }
    const int code = finish(handedBack);
    m_session.removeAll();
    return code;
}

bool FilterHostRun::readInputs()
{
    QString error;
    if (!HostImageCodec::readFile(m_options.inputImage, m_options.gray, m_options.noMask, &m_image, &error))
        return refuse(error);
    if (!m_options.iccFile.isEmpty() && !readFile(m_options.iccFile, &m_options.setup.icc, &error))
        return refuse(error);
    if (!m_options.settingsIn.isEmpty()) {
        QByteArray json;
        if (!readFile(m_options.settingsIn, &json, &error))
            return refuse(error);
        QJsonParseError parseError;
        const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
        if (!doc.isObject())
            return refuse(QStringLiteral("%1 is not a JSON object").arg(m_options.settingsIn));
        m_options.setup.settings = doc.object();
        // Megabytes: too large for a stack, which Windows gives 1 MB by default.
        const auto probe = std::make_unique<IPCSettings>();
        if (!FilterHostSession::writeSettings(probe.get(), m_options.setup.settings, &error))
            return refuse(error);
    }
    return true;
}

bool FilterHostRun::startApplication()
{
    QString error;
    if (!m_child.start(m_options.program, QString::fromLatin1(Marker), m_options.programArgs, &error)) {
        fail(UsageError, error);
        return false;
    }
    return true;
}

// The application takes the param lock in its constructor and gives it back in cleanup(); the
// record is final once this side can take the lock again. A program that ends first has either
// failed (StatusFailed) or crashed.
bool FilterHostRun::waitForHandBack()
{
    QElapsedTimer timer;
    timer.start();
    const qint64 limit = qint64(m_options.timeoutSeconds) * 1000;
    bool taken = false;
    while (!m_session.param().isHeldByOther() && m_session.record()->status == FilterHostSession::UntouchedStatus) {
        pumpOutput();
        if (m_child.hasEnded() || timer.elapsed() > limit)
            break;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    while (!m_child.hasEnded() && timer.elapsed() <= limit) {
        pumpOutput();
        if (m_session.param().tryLock()) {
            taken = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (!taken && m_child.hasEnded())
        taken = m_session.param().tryLock();
    waitForEnd(timer);
    return taken;
}

// The application decides when it quits; it gets the rest of the time limit to do so.
void FilterHostRun::waitForEnd(const QElapsedTimer &timer)
{
    const qint64 limit = qint64(m_options.timeoutSeconds) * 1000;
    while (!m_child.hasEnded() && timer.elapsed() <= limit) {
        pumpOutput();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (!m_child.hasEnded()) {
        printErr(QStringLiteral("%1 did not end within %2 s; ending it")
                     .arg(m_options.program)
                     .arg(m_options.timeoutSeconds));
        m_child.kill();
        while (!m_child.hasEnded())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    pumpOutput();
}

void FilterHostRun::pumpOutput()
{
    const QByteArray chunk = m_child.readOutput();
    if (chunk.isEmpty())
        return;
    std::fwrite(chunk.constData(), 1, std::size_t(chunk.size()), stdout);
    std::fflush(stdout);
    m_pendingOutput += chunk;
    qsizetype newline;
    while ((newline = m_pendingOutput.indexOf('\n')) >= 0) {
        const QByteArray line = m_pendingOutput.left(newline).trimmed();
        m_pendingOutput.remove(0, newline + 1);
        if (line.startsWith("hostDisplayName="))
            m_hostDisplayName = QString::fromUtf8(line.mid(int(sizeof("hostDisplayName=")) - 1));
    }
}

int FilterHostRun::finish(bool handedBack)
{
    const int status = m_session.record()->status;
    const QString message = m_session.hostErrorMessage();
    if (status == StatusFailed) {
        printErr(QStringLiteral("the application failed: %1").arg(message));
        printSummary(status, message, QString());
        return Failed;
    }
    if (!handedBack || status == FilterHostSession::UntouchedStatus) {
        printErr(QStringLiteral("%1 ended (exit code %2) without handing back the param lock")
                     .arg(m_options.program)
                     .arg(m_child.exitCode()));
        printSummary(status, message, QString());
        return Crashed;
    }
    QString error;
    if (!m_options.settingsOut.isEmpty()) {
        QFile file(m_options.settingsOut);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
            || file.write(QJsonDocument(m_session.readSettings()).toJson()) < 0)
            return fail(UsageError, QStringLiteral("cannot write %1").arg(m_options.settingsOut));
    }
    if (status == StatusImageSaved && !HostImageCodec::writeFile(m_options.outputImage, m_session.readImage(), &error))
        return fail(UsageError, error);
    printSummary(status, message, status == StatusImageSaved ? m_options.outputImage : QString());
    return status == StatusImageSaved ? Delivered : NotDelivered;
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
    out << "ovfilterhost: status=" << status << " message=\"" << message << "\" host=\"" << m_hostDisplayName
        << "\" exit=" << m_child.exitCode() << " output=\"" << output << "\"\n";
}
