// Destroys an OvIntegrations whose worker thread never comes back to its event loop, then prints
// "destroyed". With "uncancellable" the stuck thread also refuses termination.

#include "OvIntegrations.h"
#include "OvIntegrationsProbe.h"
#include "PluginData.h"

#include <QCoreApplication>
#include <QMutex>
#include <QSemaphore>
#include <QThread>
#include <QWaitCondition>

#include <cstdio>
#include <cstdlib>

namespace {

// QThread keeps the switch for subclasses; the stuck code runs on a thread it did not create.
struct TerminationSwitch : QThread
{
    using QThread::setTerminationEnabled;
};

QMutex stuckMutex;
QWaitCondition neverWoken;

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const bool cancellable = app.arguments().value(1) != QLatin1String("uncancellable");

    auto *facade = new OvIntegrations({QStringLiteral("ovfacadestuckworker")});
    PluginData *backEnd = OvIntegrationsProbe::backEnd(*facade);

    // Blocks the worker thread before its event loop runs, outside any event handler, so that
    // termination does not unwind through Qt's event delivery. The mutex is never unlocked: the
    // thread either stays in the wait or is cancelled inside it, with nothing left to release.
    QSemaphore stuck;
    QObject::connect(backEnd->thread(), &QThread::started, backEnd->thread(), [&] {
        TerminationSwitch::setTerminationEnabled(cancellable);
        stuck.release();
        stuckMutex.lock();
        for (;;)
            neverWoken.wait(&stuckMutex);
    }, Qt::DirectConnection);
    facade->start();
    stuck.acquire();

    delete facade;
    std::printf("destroyed\n");
    std::fflush(stdout);
    // A thread that could not be ended is still blocked: leave without running static destructors.
    std::_Exit(0);
}
