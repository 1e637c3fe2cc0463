#ifndef LUMIVEXPROCESS_H
#define LUMIVEXPROCESS_H

#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

// One lumivex (or ovfilterhost) process of a test, with everything it printed collected as it
// arrives, so that tests can wait for a line with QTRY_VERIFY.
class LumivexProcess : public QObject
{
    Q_OBJECT
public:
    explicit LumivexProcess(const QProcessEnvironment &environment, QObject *parent = nullptr);
    ~LumivexProcess() override;

    // `program` is a name in the build's bin folder.
    void start(const QStringList &arguments, const QString &program = QStringLiteral("lumivex"));

    QString output() const { return m_output; }
    QString errors() const { return m_errors; }
    QProcess &process() { return m_process; }
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    // Waits for the end (events keep flowing); false when it did not end within `timeoutMs`.
    bool finish(int timeoutMs = 60000);

private:
    QProcess m_process;
    QString m_output;
    QString m_errors;
};

#endif // LUMIVEXPROCESS_H
