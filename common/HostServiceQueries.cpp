#include "common/HostServiceQueries.h"

#include "common/Logging.h"

namespace NTarn {

HRESULT QueryPowerDownProvider(IServiceProvider* serviceProvider,
                               IPowerDownProvider** provider) {
  const HRESULT hr = serviceProvider->QueryService(SID_PowerDownProvider,
                                                   IID_PPV_ARGS(provider));
  if (FAILED(hr)) {
    LogMessage(
        "%T: Power down provider has not been registered with the service "
        "provider; bailing...\n");
  }
  return hr;
}

HRESULT QueryEventBroker(IServiceProvider* serviceProvider,
                         IEventBroker** broker) {
  const HRESULT hr =
      serviceProvider->QueryService(SID_EventBroker, IID_PPV_ARGS(broker));
  if (FAILED(hr)) {
    LogMessage(
        "%T: Failed to query for event broker whilst initializing the CM\\SMS "
        "plugin.\n");
  }
  return hr;
}

}  // namespace NTarn
