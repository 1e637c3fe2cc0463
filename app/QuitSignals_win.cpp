#include "QuitSignals.h"

#include <QAbstractNativeEventFilter>
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

// A program without a console or a window is asked to stop with WM_CLOSE posted to its main
// thread (QProcess::terminate, task managers); that message reaches no window procedure, only
// the event dispatcher's filters.
class CloseMessageFilter : public QAbstractNativeEventFilter
{
public:
    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) override
    {
        const MSG *msg = static_cast<const MSG *>(message);
        if (eventType != "windows_generic_MSG" || msg->hwnd != nullptr || msg->message != WM_CLOSE)
            return false;
        QCoreApplication::quit();
        return true;
    }
};

} // namespace

void QuitSignals::install(QCoreApplication *app)
{
    QTimer::singleShot(0, app, [] { eventLoopRunning = true; });
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    static CloseMessageFilter closeMessages;
    app->installNativeEventFilter(&closeMessages);
}
