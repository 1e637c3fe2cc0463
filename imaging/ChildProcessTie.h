#ifndef CHILDPROCESSTIE_H
#define CHILDPROCESSTIE_H

class QProcess;

// Ties a helper process's life to ours: when this process ends, on any path (a normal return, a
// fatal _Exit, a signal, a crash), the operating system ends the helper too. A long-lived helper
// such as `exiftool -stay_open` otherwise outlives us, reparented and polling for commands.
class ChildProcessTie
{
public:
    // Before QProcess::start(). On Linux the tie follows the thread that starts the process:
    // start it from a thread that lives as long as the process is wanted.
    static void prepare(QProcess &process);
    // Right after a successful start.
    static void adopt(QProcess &process);
};

#endif // CHILDPROCESSTIE_H
