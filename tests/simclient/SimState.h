// What the simulated client's objects share: the scenario, call counters,
// injected failures and what the callers passed.
#pragma once

#include <windows.h>
#include <wrl/client.h>

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tests/simclient/Scenario.h"
#include "tests/simclient/SimMethod.h"

namespace vpltest::sim {

struct InjectedFailure {
  SimMethod method = SimMethod::kCount;
  int call = 0;  // 1-based; 0 means every call
  HRESULT hr = E_FAIL;
  std::wstring description;  // set as COM error object when not empty
  bool withObject = false;   // Next: hand out the object with the failure
};

struct Blanket {
  DWORD authenticationService = RPC_C_AUTHN_WINNT;
  DWORD authorisationService = RPC_C_AUTHZ_NONE;
  DWORD authenticationLevel = RPC_C_AUTHN_LEVEL_CONNECT;
  DWORD impersonationLevel = RPC_C_IMP_LEVEL_IDENTIFY;
  DWORD capabilities = EOAC_NONE;
  bool hadIdentity = false;
};

struct Recorded {
  std::wstring connectPath;
  bool connectHadUser = false;
  bool connectHadPassword = false;
  std::wstring queryLanguage;
  std::wstring query;
  LONG queryFlags = 0;
  LONG nextTimeout = 0;
  std::wstring objectPath;
  Blanket blanket;
};

class SimState {
 public:
  explicit SimState(Scenario scenario) : m_scenario(std::move(scenario)) {}

  const Scenario& GetScenario() const { return m_scenario; }

  // Counts a call of `method` and returns the failure to inject for it, if
  // any; a failure with a description becomes the thread's COM error object.
  std::optional<InjectedFailure> Enter(SimMethod method);

  void AddFailure(const InjectedFailure& failure);
  int CallCount(SimMethod method) const;

  template <typename Function>
  void Record(Function&& function) {
    std::lock_guard<std::mutex> lock(m_mutex);
    function(m_recorded);
  }
  Recorded GetRecorded() const;

  void SetStatusText(HRESULT hr, const std::wstring& text);
  std::wstring StatusText(HRESULT hr) const;

  // The platform's locator factory, for namespaces the scenario leaves to
  // the machine.
  void SetPlatformLocatorFactory(IClassFactory* factory);
  Microsoft::WRL::ComPtr<IClassFactory> PlatformLocatorFactory() const;

 private:
  const Scenario m_scenario;
  mutable std::mutex m_mutex;
  int m_counts[static_cast<int>(SimMethod::kCount)] = {};
  std::vector<InjectedFailure> m_failures;
  Recorded m_recorded;
  std::map<HRESULT, std::wstring> m_statusTexts;
  Microsoft::WRL::ComPtr<IClassFactory> m_platformLocatorFactory;
};

}  // namespace vpltest::sim
