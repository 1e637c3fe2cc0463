#ifndef CHILDPROCESS_P_H
#define CHILDPROCESS_P_H

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#ifndef Q_OS_WIN
#include <sys/types.h>
#endif

// The system's side of a ChildProcess: the handles of the started program and the few operations
// on them, one set for POSIX (ChildProcess_unix.cpp) and one for Windows (ChildProcess_win.cpp).
// What ChildProcess does with them is written once, in ChildProcess.cpp.
class ChildProcessPrivate
{
public:
    // Starts `program` with `arguments` as its whole argument list, the first element standing
    // where its own path would, its standard output into a pipe that is read without waiting;
    // false with the reason, as it is reported.
    bool launch(const QString &program, const QStringList &arguments, QString *errorString);
    // Appends what one read of the pipe gives; false when it gives nothing, because nothing has
    // arrived or because the program's output has ended.
    bool readChunk(QByteArray *output);
    // True once the program has ended, with its exit code; waits for that end when `wait` is set.
    bool collectExit(bool wait, int *exitCode);
    void terminate();
    void releaseHandles();

#ifdef Q_OS_WIN
    Qt::HANDLE m_process = nullptr;
    Qt::HANDLE m_thread = nullptr;
    Qt::HANDLE m_outputRead = nullptr;
#else
    pid_t m_pid = -1;
    int m_outputFd = -1;
#endif
    bool m_started = false;
    bool m_ended = false;
    int m_exitCode = -1;
};

#endif // CHILDPROCESS_P_H
