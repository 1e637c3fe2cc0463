#ifndef OVINTEGRATIONSMODULE_H
#define OVINTEGRATIONSMODULE_H

#include "integrations_global.h"

// Declares the QML module "OvIntegrations" 1.0. The module carries no types: the application
// hands its OvIntegrations object to QML itself. Runs by itself when the library is loaded;
// the QML engine calls it again on `import OvIntegrations`.
OV_INTEGRATIONS_EXPORT void qml_register_types_OvIntegrations();

#endif // OVINTEGRATIONSMODULE_H
