#include "ChildProcess.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

struct ChildProcess::Private
{
    pid_t pid = -1;
    int outputFd = -1;
    bool ended = false;
    int exitCode = -1;
};

ChildProcess::ChildProcess()
    : d(std::make_unique<Private>())
{
}

ChildProcess::~ChildProcess()
{
    if (d->pid > 0 && !hasEnded()) {
        kill();
        while (!hasEnded())
            ::waitpid(d->pid, nullptr, 0);
    }
    if (d->outputFd >= 0)
        ::close(d->outputFd);
}

bool ChildProcess::start(const QString &program, const QString &argv0, const QStringList &args, QString *error)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        *error = QStringLiteral("cannot create a pipe: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    std::vector<QByteArray> storage;
    storage.push_back(argv0.toLocal8Bit());
    for (const QString &arg : args)
        storage.push_back(arg.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &item : storage)
        argv.push_back(item.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    const QByteArray path = program.toLocal8Bit();
    const int rc = ::posix_spawnp(&d->pid, path.constData(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        d->pid = -1;
        *error = QStringLiteral("cannot start %1: %2").arg(program, QString::fromLocal8Bit(std::strerror(rc)));
        return false;
    }
    d->outputFd = fds[0];
    ::fcntl(d->outputFd, F_SETFL, ::fcntl(d->outputFd, F_GETFL) | O_NONBLOCK);
    return true;
}

QByteArray ChildProcess::readOutput()
{
    QByteArray output;
    if (d->outputFd < 0)
        return output;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(d->outputFd, buffer, sizeof(buffer));
        if (n > 0) {
            output.append(buffer, qsizetype(n));
            continue;
        }
        if (n == 0) {
            ::close(d->outputFd);
            d->outputFd = -1;
        }
        break;
    }
    return output;
}

bool ChildProcess::hasEnded()
{
    if (d->ended || d->pid <= 0)
        return true;
    int status = 0;
    if (::waitpid(d->pid, &status, WNOHANG) != d->pid)
        return false;
    d->ended = true;
    d->exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
}

int ChildProcess::exitCode() const
{
    return d->exitCode;
}

void ChildProcess::kill()
{
    if (d->pid > 0 && !d->ended)
        ::kill(d->pid, SIGKILL);
}
