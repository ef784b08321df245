// The host services the plug-in's parts look up from the service provider the
// host hands them, each with the line the host's log gets when it is missing.
#pragma once

#include <windows.h>

#include "contract/HostContract.h"

namespace NTarn {

// QueryService for the host's power-down provider; logs "Power down provider
// has not been registered..." when the host has none.
HRESULT QueryPowerDownProvider(IServiceProvider* serviceProvider,
                               IPowerDownProvider** provider);

// QueryService for the host's event broker; logs "Failed to query for event
// broker..." when the host has none.
HRESULT QueryEventBroker(IServiceProvider* serviceProvider,
                         IEventBroker** broker);

}  // namespace NTarn
