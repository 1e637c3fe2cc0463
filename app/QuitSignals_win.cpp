#include "QuitSignals.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>

#include <atomic>

#include <windows.h>

namespace {

std::atomic<bool> eventLoopRunning{false};

// Runs on a thread of the console; the quit is queued to the event loop's thread. Before the
// loop runs nothing would take the queued quit (the facade's constructor may be waiting for a
// filter module's lock for ever), so the system's default handler ends the process instead.
BOOL WINAPI onConsoleEvent(DWORD)
{
    if (!eventLoopRunning)
        return FALSE;
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
    return TRUE;
}

} // namespace

void QuitSignals::install(QCoreApplication *app)
{
    QTimer::singleShot(0, app, [] { eventLoopRunning = true; });
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}
