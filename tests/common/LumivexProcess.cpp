#include "LumivexProcess.h"

#include "TestHelpers.h"

#include <QDir>

LumivexProcess::LumivexProcess(const QProcessEnvironment &environment, QObject *parent)
    : QObject(parent)
{
    m_process.setProcessEnvironment(environment);
    connect(&m_process, &QProcess::readyReadStandardOutput, this,
            [this] { m_output += QString::fromLocal8Bit(m_process.readAllStandardOutput()); });
    connect(&m_process, &QProcess::readyReadStandardError, this,
            [this] { m_errors += QString::fromLocal8Bit(m_process.readAllStandardError()); });
}

LumivexProcess::~LumivexProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

void LumivexProcess::start(const QStringList &arguments, const QString &program)
{
    m_process.start(QDir(TestHelpers::binDir()).filePath(program), arguments);
}

bool LumivexProcess::finish(int timeoutMs)
{
    const bool ended = m_process.state() == QProcess::NotRunning || m_process.waitForFinished(timeoutMs);
    m_output += QString::fromLocal8Bit(m_process.readAllStandardOutput());
    m_errors += QString::fromLocal8Bit(m_process.readAllStandardError());
    return ended;
}
