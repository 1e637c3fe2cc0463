#ifndef LUMIVEXAPP_H
#define LUMIVEXAPP_H

#include "LaunchOptions.h"

#include <QStringList>

#include <optional>

class OvIntegrations;
class OvIntercom;

// One launch of lumivex, from the command line to the exit code: options, the integration
// object, the handoff to a running instance, then the window or the headless run.
class LumivexApp
{
public:
    static int run(int &argc, char **argv);

private:
    // Hands this launch's files to the running instance, if there is one; the exit code when this
    // launch ends there.
    static std::optional<int> handOff(const LaunchOptions &options, OvIntegrations &integrations, OvIntercom &intercom);
    static int runHeadless(const LaunchOptions &options, OvIntegrations &integrations);
    static int runWindow(const LaunchOptions &options, OvIntegrations &integrations);
    // The platform a run without a display uses unless QT_QPA_PLATFORM names one.
    static void chooseHeadlessPlatform();
};

#endif // LUMIVEXAPP_H
