#ifndef PSTESTSUPPORT_H
#define PSTESTSUPPORT_H

#include "FilterHostSession.h"
#include "HostImage.h"

#include <QMap>
#include <QMessageLogContext>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>

// Pieces shared by the filter-host tests: synthetic host images, and running the back-end
// runner or the filter-module stand-in as real child processes.
class PSPluginData;

namespace PSTestSupport {

struct ProcessResult
{
    bool finished = false;
    int exitCode = -1;
    QString standardOutput;
    QString standardError;
    // "key=value" lines of the standard output, last one wins.
    QMap<QString, QString> values;
};

// A program of the build: psbackendrunner, ovfilterhost, lumivex.
QString binPath(const char *program);

// Runs a program to its end (at most `timeoutMs`) and collects its output.
ProcessResult run(const QString &program, const QStringList &args, int timeoutMs = 60000);
ProcessResult collect(QProcess &process, int timeoutMs = 60000);

// A host image whose samples cover the host's scale; plane k and the mask differ from each other.
HostImage makeHostImage(int width, int height, bool gray, bool mask);

// Creates the channels for `image`, fills them and lets go of the locks, as a filter module does
// just after starting the application.
bool createReleasedSession(FilterHostSession &session, const HostImage &image, const HostSetup &setup = HostSetup());

// Builds the back end in this process over a new session (created, filled and released) and
// starts it. The back end takes the locks on the calling thread.
PSPluginData *startBackEnd(FilterHostSession *&session, const HostImage &image, const HostSetup &setup = HostSetup());

// The messages of `type` logged while `call` runs, which reach the test's own handler as well.
QStringList messagesDuring(QtMsgType type, const std::function<void()> &call);

// Deletes a back end made by startBackEnd and removes its session's channels; both pointers end
// null, so a test's cleanup() can call it whether or not the test function started anything.
void endBackEnd(FilterHostSession *&session, PSPluginData *&backEnd);

} // namespace PSTestSupport

#endif // PSTESTSUPPORT_H
