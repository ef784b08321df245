// The simulated WMI status-text object.
#pragma once

#include <windows.h>
#include <wbemcli.h>

#include <memory>

#include "tests/simclient/SimComObject.h"
#include "tests/simclient/SimState.h"

namespace vpltest::sim {

class SimStatusCodeText : public SimComObject<IWbemStatusCodeText> {
 public:
  explicit SimStatusCodeText(std::shared_ptr<SimState> state)
      : m_state(std::move(state)) {}

  STDMETHOD(GetErrorCodeText)
  (HRESULT hr, LCID locale, LONG flags, BSTR* text) override;
  STDMETHOD(GetFacilityCodeText)
  (HRESULT hr, LCID locale, LONG flags, BSTR* text) override;

 private:
  std::shared_ptr<SimState> m_state;
};

}  // namespace vpltest::sim
