#ifndef FILTERHOSTRUN_H
#define FILTERHOSTRUN_H

#include "ChildProcess.h"
#include "FilterHostSession.h"
#include "HostCorruption.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QStringList>

struct FilterHostOptions
{
    QString inputImage;
    QString outputImage;
    QString program;
    QStringList programArgs;
    QString iccFile;
    QString settingsIn;
    QString settingsOut;
    bool gray = false;
    bool noMask = false;
    bool keepLocks = false; // never let go of the locks, like a module that hangs
    QList<HostCorruption::Kind> corruptions;
    int timeoutSeconds = 300;
    HostSetup setup;
};

// One filter run as the host's filter module performs it: channels in, application started,
// locks handed over, the application's hand-back awaited, the result read and the channels
// removed. The result is the program's exit code.
class FilterHostRun
{
public:
    enum ExitCode { Delivered = 0, NotDelivered = 1, Failed = 2, Crashed = 3, UsageError = 4 };

    static const char *const Marker;

    explicit FilterHostRun(const FilterHostOptions &options);
    int run();

private:
    bool readInputs();
    bool startApplication();
    bool waitForHandBack();
    void waitForEnd(const QElapsedTimer &timer);
    void pumpOutput();
    int finish(bool handedBack);
    int fail(int code, const QString &message);
    bool refuse(const QString &message);
    void printSummary(int status, const QString &message, const QString &output);

    FilterHostOptions m_options;
    HostImage m_image;
    FilterHostSession m_session;
    ChildProcess m_child;
    QByteArray m_pendingOutput;
    QString m_hostDisplayName;
};

#endif // FILTERHOSTRUN_H
