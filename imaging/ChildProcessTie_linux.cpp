#include "ChildProcessTie.h"

#include <QProcess>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

void ChildProcessTie::prepare(QProcess &process)
{
    const pid_t parent = ::getpid();
    // Runs in the child between fork and exec; the parent-death signal survives the exec.
    process.setChildProcessModifier([parent] {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        // Had we died before the prctl, no signal would ever come: the child is already orphaned.
        if (::getppid() != parent)
            ::_exit(127);
    });
}

void ChildProcessTie::adopt(QProcess &) { }
