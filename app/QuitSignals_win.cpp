#include "QuitSignals.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <windows.h>

namespace {

// Runs on a thread of the console; the quit is queued to the event loop's thread.
BOOL WINAPI onConsoleEvent(DWORD)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
    return TRUE;
}

} // namespace

void QuitSignals::install(QCoreApplication *)
{
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}
