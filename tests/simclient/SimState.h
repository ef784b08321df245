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
  // Not a failure but a provider that answers only after this long
  // (simulated milliseconds); see SimulatedClient::HangCall.
  DWORD hangMs = 0;
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
  // any; a failure with a description becomes the thread's COM error object
  // unless `deferError`, for a failure a semisynchronous call reports later.
  std::optional<InjectedFailure> Enter(SimMethod method,
                                       bool deferError = false);
  // Makes `description` the thread's COM error object.
  static void SetErrorObject(const std::wstring& description);

  // Waits `simulatedMs` of the simulation's time, which passes `scale`
  // times faster than the clock's, and counts it.
  void Wait(DWORD simulatedMs);
  void SetTimeScale(unsigned scale);
  // The simulated time all waits took so far.
  DWORD WaitedMs() const;
  // Real time each ConnectServer, ExecQuery and GetObject takes first.
  void SetCallCost(DWORD milliseconds);
  // Simulated time the provider takes for each object a query hands out.
  void SetObjectDelay(DWORD milliseconds);
  DWORD ObjectDelay() const;

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
  static void SpendCallCost(DWORD milliseconds);

  const Scenario m_scenario;
  mutable std::mutex m_mutex;
  int m_counts[static_cast<int>(SimMethod::kCount)] = {};
  std::vector<InjectedFailure> m_failures;
  Recorded m_recorded;
  std::map<HRESULT, std::wstring> m_statusTexts;
  Microsoft::WRL::ComPtr<IClassFactory> m_platformLocatorFactory;
  unsigned m_timeScale = 1;
  DWORD m_waitedMs = 0;
  DWORD m_callCostMs = 0;
  DWORD m_objectDelayMs = 0;
};

// What a provider answers a semisynchronous call later: after a hang of
// some length, perhaps a failure.
class DeferredAnswer {
 public:
  DeferredAnswer() = default;
  DeferredAnswer(HRESULT failure, std::wstring description, DWORD hangMs)
      : m_failure(failure),
        m_description(std::move(description)),
        m_remainingMs(hangMs) {}

  // Waits as a call with `timeoutMs` would: false when the time-out passed
  // first (the call returns WBEM_S_TIMEDOUT), true once the provider
  // answered.
  bool Await(SimState& state, LONG timeoutMs);
  // The call's failure, S_OK when none; a failure's description becomes the
  // thread's COM error object.
  HRESULT Failure() const;

 private:
  HRESULT m_failure = S_OK;
  std::wstring m_description;
  DWORD m_remainingMs = 0;
};

}  // namespace vpltest::sim
