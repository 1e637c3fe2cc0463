#include "ExifToolSession.h"

#include "ChildProcessTie.h"

#include <QDebug>

#include <algorithm>
#include <utility>

namespace {

// A real ExifTool answers a metadata read or a preview in well under a second once running; the
// margin covers a first start and a slow disk. A hung helper costs each photo this twice (the
// metadata and the preview) and no more, since the writer's metadata copy has a budget of its own.
constexpr int CommandTimeoutMs = 10000;
constexpr int ShutdownTimeoutMs = 3000;
// Far above any real answer (the largest is a base64 preview of a few megabytes), far below what
// would strain memory: a helper that writes without end is cut off here.
constexpr qsizetype MaxOutputBytes = 64 * 1024 * 1024;
// Only the first lines of the errors are ever shown.
constexpr qsizetype MaxErrorBytes = 64 * 1024;

} // namespace

ExifToolSession::ExifToolSession(QObject *parent)
    : QObject(parent)
    , m_timeout(this)
{
    m_timeout.setSingleShot(true);
    m_timeout.setInterval(CommandTimeoutMs);
    connect(&m_timeout, &QTimer::timeout, this, &ExifToolSession::onTimeout);
}

ExifToolSession::~ExifToolSession()
{
    if (!m_process)
        return;
    m_process->disconnect(this);
    if (m_process->state() == QProcess::Running) {
        m_process->write("-stay_open\nFalse\n");
        m_process->closeWriteChannel();
        if (!m_process->waitForFinished(ShutdownTimeoutMs)) {
            m_process->kill();
            m_process->waitForFinished(ShutdownTimeoutMs);
        }
    }
    delete m_process;
}

void ExifToolSession::execute(const QStringList &arguments, Done done)
{
    Q_ASSERT(!m_done);
    m_output.clear();
    m_errors.clear();
    // A failed start may be reported from inside start(); m_done is set only afterwards so that
    // such a report cannot answer this command before execute() has returned.
    const bool started = ensureStarted();
    m_done = std::move(done);
    if (!started) {
        // Answer from the event loop, as for every other outcome.
        QMetaObject::invokeMethod(
            this, [this] { finish(false); }, Qt::QueuedConnection);
        return;
    }
    ++m_sequence;
    m_marker = "{ready" + QByteArray::number(m_sequence) + "}";
    QByteArray command;
    for (const QString &argument : arguments)
        command += argument.toUtf8() + '\n';
    command += "-execute" + QByteArray::number(m_sequence) + '\n';
    m_process->write(command);
    m_timeout.start();
}

bool ExifToolSession::ensureStarted()
{
    if (m_process && m_process->state() != QProcess::NotRunning)
        return true;
    discardProcess();
    m_process = new QProcess(this);
    connect(m_process, &QProcess::readyReadStandardOutput, this, &ExifToolSession::onStandardOutput);
    connect(m_process, &QProcess::readyReadStandardError, this, &ExifToolSession::onStandardError);
    connect(m_process, &QProcess::errorOccurred, this, &ExifToolSession::onProcessError);
    connect(m_process, &QProcess::finished, this, &ExifToolSession::onFinished);
    // The back end that owns this session is never destroyed, so the polite "-stay_open False"
    // of the destructor does not run on most exits; the tie ends the helper with us instead.
    ChildProcessTie::prepare(*m_process);
    // Starting is asynchronous: a missing executable is reported through errorOccurred.
    m_process->start(QStringLiteral("exiftool"),
                     {QStringLiteral("-stay_open"), QStringLiteral("True"), QStringLiteral("-@"), QStringLiteral("-")});
    if (!m_process || m_process->state() == QProcess::NotRunning)
        return false;
    ChildProcessTie::adopt(*m_process);
    return true;
}

void ExifToolSession::onStandardOutput()
{
    // Read as it comes, so that QProcess's own buffer never holds more than one pipe's worth.
    m_output += m_process->readAllStandardOutput();
    if (m_output.size() > MaxOutputBytes)
        return abandon("ExifTool wrote more than any answer holds; ending it");
    if (m_marker.isEmpty()) {
        // Output nobody asked for is dropped; the next command clears what is left anyway.
        m_output.clear();
        return;
    }
    // Nothing follows the marker until the next command is sent, so it can only sit at the end.
    const qsizetype tail = std::max<qsizetype>(0, m_output.size() - m_marker.size() - 4);
    const qsizetype at = m_output.indexOf(m_marker, tail);
    if (at < 0)
        return;
    m_output.truncate(at);
    finish(true);
}

void ExifToolSession::onStandardError()
{
    const QByteArray errors = m_process->readAllStandardError();
    m_errors += errors.left(std::max<qsizetype>(0, MaxErrorBytes - m_errors.size()));
}

void ExifToolSession::onProcessError(QProcess::ProcessError error)
{
    if (error == QProcess::FailedToStart)
        qWarning() << "ExifTool could not be started:" << m_process->errorString();
    else if (error == QProcess::Crashed || error == QProcess::ReadError || error == QProcess::WriteError)
        qWarning() << "ExifTool failed:" << m_process->errorString();
    else
        return;
    discardProcess();
    if (m_done)
        finish(false);
}

// A helper that has ended cannot answer: a broken install exits at once, and waiting for the
// timeout would cost every command its full time.
void ExifToolSession::onFinished(int exitCode, QProcess::ExitStatus status)
{
    Q_UNUSED(status)
    // An answer written just before the exit still counts.
    if (m_process->bytesAvailable() > 0)
        onStandardOutput();
    if (!m_process)
        return;
    if (m_done)
        qWarning() << "ExifTool ended without answering, exit code" << exitCode;
    discardProcess();
    if (m_done)
        finish(false);
}

void ExifToolSession::onTimeout()
{
    abandon("ExifTool did not answer in time; ending it");
}

void ExifToolSession::abandon(const char *why)
{
    qWarning() << why;
    discardProcess();
    m_output.clear();
    finish(false);
}

void ExifToolSession::finish(bool ok)
{
    m_timeout.stop();
    m_marker.clear();
    if (!m_done)
        return;
    // The callback may send the next command at once, so hand over the state first.
    Done done = std::move(m_done);
    m_done = nullptr;
    const QByteArray output = std::exchange(m_output, QByteArray());
    const QByteArray errors = std::exchange(m_errors, QByteArray());
    done(ok, output, errors);
}

void ExifToolSession::discardProcess()
{
    if (!m_process)
        return;
    m_process->disconnect(this);
    // A helper that failed a write or went silent may still run: it is ended and reaped here,
    // not left to QProcess's destructor, which would wait for it on whatever thread deletes it.
    if (m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(ShutdownTimeoutMs);
    }
    m_process->deleteLater();
    m_process = nullptr;
}
