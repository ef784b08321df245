// Result enumerator of a simulated query. A semisynchronous query's hang or
// failure arrives through it, on the first Next.
#pragma once

#include <windows.h>
#include <wbemcli.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/simclient/Scenario.h"
#include "tests/simclient/SimComObject.h"
#include "tests/simclient/SimState.h"

namespace vpltest::sim {

class SimEnumerator : public SimComObject<IEnumWbemClassObject> {
 public:
  SimEnumerator(std::shared_ptr<SimState> state,
                std::vector<SimInstance> results,
                std::vector<std::wstring> selected, bool forwardOnly,
                DeferredAnswer answer = DeferredAnswer());
  // As the proxy of an out-of-process enumerator does, releasing it clears
  // the thread's COM error object.
  ~SimEnumerator() override;

  STDMETHOD(Reset)() override;
  STDMETHOD(Next)
  (LONG timeout, ULONG count, IWbemClassObject** objects,
   ULONG* returned) override;
  STDMETHOD(NextAsync)(ULONG, IWbemObjectSink*) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  STDMETHOD(Clone)(IEnumWbemClassObject** copy) override;
  STDMETHOD(Skip)(LONG timeout, ULONG count) override;

 private:
  IWbemClassObject* MakeObject(size_t index) const;

  std::shared_ptr<SimState> m_state;
  const std::vector<SimInstance> m_results;
  const std::vector<std::wstring> m_selected;
  const bool m_forwardOnly;
  std::mutex m_mutex;
  DeferredAnswer m_answer;
  size_t m_position = 0;
};

}  // namespace vpltest::sim
