// The window of a launch, in builds with Qt Quick.
#include "LumivexApp.h"

#include "Console.h"
#include "LumivexWindow.h"
#include "OvIntegrations.h"
#include "ViewController.h"
#include "WindowPicture.h"

#include <QApplication>

#include <memory>

namespace {

// Long enough for a 100-megapixel photo to be read and previewed on a slow machine.
constexpr int WindowPictureTimeoutMs = 60000;

} // namespace

int LumivexApp::runWindow(const LaunchOptions &options, OvIntegrations &integrations)
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
    std::unique_ptr<WindowPicture> picture;
    if (!options.windowPicture.isEmpty()) {
        picture =
            std::make_unique<WindowPicture>(&integrations, &window, options.windowPicture, WindowPictureTimeoutMs);
        QObject::connect(picture.get(), &WindowPicture::finished, qApp, &QCoreApplication::exit, Qt::QueuedConnection);
    }
    const int code = QApplication::exec();
    integrations.cleanup();
    return code;
}
