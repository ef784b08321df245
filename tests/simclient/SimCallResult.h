// Call result of a semisynchronous simulated GetObject: the provider's hang
// and failure, or the object, arrive through it.
#pragma once

#include <windows.h>
#include <wbemcli.h>

#include <memory>
#include <mutex>
#include <optional>

#include "tests/simclient/Scenario.h"
#include "tests/simclient/SimComObject.h"
#include "tests/simclient/SimState.h"

namespace vpltest::sim {

class SimCallResult : public SimComObject<IWbemCallResult> {
 public:
  // `found` (copied) is the object read, null after a failure.
  SimCallResult(std::shared_ptr<SimState> state, const SimInstance* found,
                DeferredAnswer answer);
  // As the proxy of an out-of-process call result does, releasing it clears
  // the thread's COM error object.
  ~SimCallResult() override;

  STDMETHOD(GetResultObject)
  (LONG timeout, IWbemClassObject** object) override;
  STDMETHOD(GetCallStatus)(LONG timeout, LONG* status) override;
  // A GetObject's call result has no string or services to give.
  STDMETHOD(GetResultString)(LONG, BSTR*) override {
    return WBEM_E_INVALID_OPERATION;
  }
  STDMETHOD(GetResultServices)(LONG, IWbemServices**) override {
    return WBEM_E_INVALID_OPERATION;
  }

 private:
  std::shared_ptr<SimState> m_state;
  const std::optional<SimInstance> m_found;
  std::mutex m_mutex;
  DeferredAnswer m_answer;
};

}  // namespace vpltest::sim
