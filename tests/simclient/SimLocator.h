// The simulated WMI locator: connects to the scenario's namespaces and hands
// every other namespace to the platform's WMI.
#pragma once

#include <windows.h>
#include <wbemcli.h>

#include <memory>

#include "tests/simclient/SimComObject.h"
#include "tests/simclient/SimState.h"

namespace vpltest::sim {

class SimLocator : public SimComObject<IWbemLocator> {
 public:
  explicit SimLocator(std::shared_ptr<SimState> state);

  STDMETHOD(ConnectServer)
  (const BSTR path, const BSTR user, const BSTR password, const BSTR locale,
   LONG flags, const BSTR authority, IWbemContext* context,
   IWbemServices** services) override;

 private:
  std::shared_ptr<SimState> m_state;
};

}  // namespace vpltest::sim
