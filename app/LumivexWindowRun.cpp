// The window of a launch, in builds with Qt Quick.
#include "LumivexApp.h"

#include "Console.h"
#include "LumivexWindow.h"
#include "OvIntegrations.h"
#include "ViewController.h"

#include <QApplication>

int LumivexApp::runWindow(OvIntegrations &integrations)
{
    LumivexWindow window(&integrations);
    if (!window.load()) {
        for (const QString &error : window.errors())
            Console::error(error);
        integrations.cleanup();
        return 1;
    }
    QObject::connect(window.controller(), &ViewController::deliveredToHost, qApp, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    const int code = QApplication::exec();
    integrations.cleanup();
    return code;
}
