#include "OvIntegrationsModule.h"

#include <QtQml/qqml.h>
#include <QtQml/qqmlmoduleregistration.h>

void qml_register_types_OvIntegrations()
{
    qmlRegisterModule("OvIntegrations", 1, 0);
}

// Lives as long as the library is loaded, so the engine finds the module without any call from
// the application.
static const QQmlModuleRegistration ovIntegrationsModuleRegistration("OvIntegrations",
                                                                     qml_register_types_OvIntegrations);
