#include "ThreadStop.h"

#include <QDeadlineTimer>
#include <QThread>
#include <QtDebug>

namespace {

constexpr int StopTimeoutMs = 5000;

bool waitForEnd(QThread &thread)
{
    return thread.wait(QDeadlineTimer(StopTimeoutMs, Qt::CoarseTimer));
}

} // namespace

bool ThreadStop::stop(QThread &thread, const Messages &messages)
{
    qInfo() << messages.stopping;
    thread.quit();
    if (waitForEnd(thread)) {
        qInfo() << messages.stopped;
        return true;
    }
    qWarning() << messages.timedOut;
    thread.terminate();
    if (waitForEnd(thread)) {
        qInfo() << messages.terminated;
        return true;
    }
    qCritical() << messages.notTerminated;
    return false;
}
