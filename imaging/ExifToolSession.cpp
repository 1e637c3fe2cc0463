#include "ExifToolSession.h"

#include "ChildProcessTie.h"

#include <QDebug>

#include <algorithm>
#include <utility>

namespace {

constexpr int CommandTimeoutMs = 30000;
constexpr int ShutdownTimeoutMs = 3000;

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
    m_output += m_process->readAllStandardOutput();
    if (m_marker.isEmpty())
        return;
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
    m_errors += m_process->readAllStandardError();
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

void ExifToolSession::onTimeout()
{
    qWarning() << "ExifTool did not answer within" << CommandTimeoutMs << "ms; restarting it";
    if (m_process) {
        m_process->disconnect(this);
        m_process->kill();
    }
    discardProcess();
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
    m_process->deleteLater();
    m_process = nullptr;
}
