#include "ChildProcess.h"

#include "ChildProcess_p.h"

ChildProcess::ChildProcess()
    : m_d(std::make_unique<ChildProcessPrivate>())
{
}

// A program still running is ended and waited for, so that it never outlives the stand-in.
ChildProcess::~ChildProcess()
{
    if (!hasEnded()) {
        kill();
        int exitCode = 0;
        m_d->collectExit(true, &exitCode);
    }
    m_d->releaseHandles();
}

bool ChildProcess::start(const QString &program, const QString &argv0, const QStringList &args, QString *error)
{
    if (!m_d->launch(program, QStringList{argv0} + args, error))
        return false;
    m_d->m_started = true;
    return true;
}

QByteArray ChildProcess::readOutput()
{
    QByteArray output;
    while (m_d->readChunk(&output)) { }
    return output;
}

bool ChildProcess::hasEnded()
{
    if (m_d->m_ended || !m_d->m_started)
        return true;
    int exitCode = 0;
    if (!m_d->collectExit(false, &exitCode))
        return false;
    m_d->m_ended = true;
    m_d->m_exitCode = exitCode;
    return true;
}

int ChildProcess::exitCode() const
{
    return m_d->m_exitCode;
}

void ChildProcess::kill()
{
    if (m_d->m_started && !m_d->m_ended)
        m_d->terminate();
}
