#ifndef EXIFTOOLSESSION_H
#define EXIFTOOLSESSION_H

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTimer>

#include <functional>

// One `exiftool -stay_open True -@ -` process, started on the first command. Each command's
// arguments go down stdin one per line, followed by a numbered -execute; ExifTool answers with
// the command's output and then "{readyN}", which is how an answer is framed. One command at a
// time: the caller waits for `done` before sending the next.
//
// Whatever answers to the name `exiftool` is not trusted to behave: an answer is bounded in size,
// a process that ends is reported at once, and a command gets a bounded time. Each of those ends
// the command as failed and the process with it.
class ExifToolSession : public QObject
{
public:
    using Done = std::function<void(bool ok, const QByteArray &output, const QByteArray &errors)>;

    explicit ExifToolSession(QObject *parent = nullptr);
    ~ExifToolSession() override;

    // `done` is always called, later, from the event loop of this object's thread.
    void execute(const QStringList &arguments, Done done);

private:
    bool ensureStarted();
    void onStandardOutput();
    void onStandardError();
    void onProcessError(QProcess::ProcessError error);
    void onFinished(int exitCode, QProcess::ExitStatus status);
    void abandon(const char *why);
    void onTimeout();
    void finish(bool ok);
    void discardProcess();

    QProcess *m_process = nullptr;
    QTimer m_timeout;
    Done m_done;
    QByteArray m_marker;
    QByteArray m_output;
    QByteArray m_errors;
    int m_sequence = 0;
};

#endif // EXIFTOOLSESSION_H
