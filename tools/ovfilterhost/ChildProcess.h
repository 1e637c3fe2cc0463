#ifndef CHILDPROCESS_H
#define CHILDPROCESS_H

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

class ChildProcessPrivate;

// A program started with a chosen first argument element (the filter marker instead of its own
// path), its standard output captured, its standard error shared with ours.
class ChildProcess
{
public:
    ChildProcess();
    ~ChildProcess(); // ends the program if it still runs

    bool start(const QString &program, const QString &argv0, const QStringList &args, QString *error);
    // Output that arrived since the last call; never waits.
    QByteArray readOutput();
    // True once the program has ended; never waits.
    bool hasEnded();
    // Exit code; 128 + signal number when a signal ended it.
    int exitCode() const;
    void kill();

private:
    std::unique_ptr<ChildProcessPrivate> m_d;
};

#endif // CHILDPROCESS_H
