#ifndef PROCESSPROBE_H
#define PROCESSPROBE_H

#include <QtGlobal>

// Another process seen by its id, for tests of processes that must end with their parent: ids
// of processes that this one did not start, so QProcess cannot serve.
namespace ProcessProbe {

// True while the process runs; a Linux zombie, ended but not yet reaped, counts as ended.
bool isRunning(qint64 pid);
// Ends the process at once, so that a failed test leaves nothing running.
void terminate(qint64 pid);

} // namespace ProcessProbe

#endif // PROCESSPROBE_H
