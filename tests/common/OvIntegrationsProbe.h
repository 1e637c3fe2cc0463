#ifndef OVINTEGRATIONSPROBE_H
#define OVINTEGRATIONSPROBE_H

#include "OvIntegrations.h"
#include "PluginData.h"

// The facade never hands out its back end; tests reach it through this friend to make the real
// back end emit, and to release it once the facade is gone.
struct OvIntegrationsProbe
{
    static PluginData *backEnd(const OvIntegrations &facade) { return facade.m_backEnd; }
};

#endif // OVINTEGRATIONSPROBE_H
