// Builds without Qt Quick have no window: such a launch says so and hands the image back
// untouched, so a filter module or an editor that started it is never left waiting.
#include "LumivexApp.h"

#include "Console.h"
#include "OvIntegrations.h"

int LumivexApp::runWindow(const LaunchOptions &, OvIntegrations &integrations)
{
    Console::error(QStringLiteral("this build of lumivex has no window; run it with --headless or --auto"));
    integrations.cleanup();
    return 1;
}
