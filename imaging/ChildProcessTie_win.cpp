#include "ChildProcessTie.h"

#include <QProcess>

#include <windows.h>

namespace {

// One job for the whole process, never closed by us: the system closes its handle when the
// process ends, and the kill-on-close limit then ends every process in the job.
HANDLE killOnCloseJob()
{
    static const HANDLE job = [] {
        HANDLE created = CreateJobObjectW(nullptr, nullptr);
        if (!created)
            return HANDLE(nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (!SetInformationJobObject(created, JobObjectExtendedLimitInformation, &limits, sizeof(limits))) {
            CloseHandle(created);
            return HANDLE(nullptr);
        }
        return created;
    }();
    return job;
}

} // namespace

void ChildProcessTie::prepare(QProcess &) { }

// Processes the helper starts later join the job with it.
void ChildProcessTie::adopt(QProcess &process)
{
    const HANDLE job = killOnCloseJob();
    if (!job)
        return;
    const HANDLE child = OpenProcess(PROCESS_SET_QUOTA | PROCESS_TERMINATE, FALSE, DWORD(process.processId()));
    if (!child)
        return;
    AssignProcessToJobObject(job, child);
    CloseHandle(child);
}
