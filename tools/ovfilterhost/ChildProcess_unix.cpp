#include "ChildProcess_p.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

bool ChildProcessPrivate::launch(const QString &program, const QStringList &arguments, QString *errorString)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        *errorString = QStringLiteral("cannot create a pipe: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    std::vector<QByteArray> storage;
    for (const QString &argument : arguments)
        storage.push_back(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &item : storage)
        argv.push_back(item.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    const QByteArray path = program.toLocal8Bit();
    const int rc = ::posix_spawnp(&m_pid, path.constData(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        m_pid = -1;
        *errorString = QStringLiteral("cannot start %1: %2").arg(program, QString::fromLocal8Bit(std::strerror(rc)));
        return false;
    }
    m_outputFd = fds[0];
    ::fcntl(m_outputFd, F_SETFL, ::fcntl(m_outputFd, F_GETFL) | O_NONBLOCK);
    return true;
}

bool ChildProcessPrivate::readChunk(QByteArray *output)
{
    if (m_outputFd < 0)
        return false;
    char buffer[4096];
    const ssize_t n = ::read(m_outputFd, buffer, sizeof(buffer));
    if (n > 0) {
        output->append(buffer, qsizetype(n));
        return true;
    }
    if (n == 0) {
        ::close(m_outputFd);
        m_outputFd = -1;
    }
    return false;
}

bool ChildProcessPrivate::collectExit(bool wait, int *exitCode)
{
    int status = 0;
    if (::waitpid(m_pid, &status, wait ? 0 : WNOHANG) != m_pid)
        return false;
    *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
}

void ChildProcessPrivate::terminate()
{
    ::kill(m_pid, SIGKILL);
}

void ChildProcessPrivate::releaseHandles()
{
    if (m_outputFd >= 0)
        ::close(m_outputFd);
}
