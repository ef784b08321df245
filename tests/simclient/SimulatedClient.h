// Installs a simulated ConfigMgr client for the current process: the WMI
// locator and status-text classes are replaced (CoRegisterClassObject) while
// the object lives, so product code reaches the scenario's data through its
// ordinary WMI calls. Namespaces the scenario does not hold, other than the
// client's root\ccm tree, go to the platform's WMI.
//
//   vpltest::SimulatedClient sim(R"({"namespaces": {"root\\ccm":
//       {"CCM_Client": {"ClientId": "GUID:1"}}}})");
//   sim.FailCall(vpltest::SimMethod::kExecQuery, 1, WBEM_E_FAILED, L"why");
//   ... run the code under test ...
//   EXPECT_EQ(vpltest::SimulatedClient::LiveObjects(), 0);
//
// One simulation at a time; COM must be initialised on the creating thread.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "tests/simclient/Scenario.h"
#include "tests/simclient/SimMethod.h"
#include "tests/simclient/SimState.h"

namespace vpltest {

using sim::ScenarioError;

class SimulatedClient {
 public:
  // `scenario` is JSON text when it starts with '{' (after blanks), else the
  // path of a scenario file (UTF-8). The scenario's warnings go to standard
  // error. Throws ScenarioError for a malformed scenario
  // (and installs nothing), std::runtime_error when registration fails.
  explicit SimulatedClient(const std::string& scenario);
  explicit SimulatedClient(sim::Scenario scenario);
  SimulatedClient(const SimulatedClient&) = delete;
  SimulatedClient& operator=(const SimulatedClient&) = delete;
  // Revokes the registrations; objects still held keep working.
  ~SimulatedClient();

  // The `call`-th call (1-based, counted from installation) of `method`
  // fails with `hr`; a description is set as the thread's COM error object.
  void FailCall(SimMethod method, int call, HRESULT hr,
                const std::wstring& description = std::wstring());
  void FailEveryCall(SimMethod method, HRESULT hr,
                     const std::wstring& description = std::wstring());
  // The `call`-th Next returns `hr` together with the next object.
  void FailNextWithObject(int call, HRESULT hr);
  // The `call`-th Next times out: WBEM_S_TIMEDOUT without an object.
  void TimeOutNext(int call);
  // The provider behind the `call`-th call (0: every call) of `method`
  // (ExecQuery or GetObject) answers only after `milliseconds` of
  // simulated time: a synchronous call is blocked that long; a
  // semisynchronous one returns at once, and its Next or call result waits
  // at most its time-out and returns WBEM_S_TIMEDOUT while the provider is
  // still busy. A ConnectServer so hung blocks its caller that long, then
  // connects.
  void HangCall(SimMethod method, int call, DWORD milliseconds);
  // Simulated time passes `scale` times faster than the clock's, so that a
  // hang can outlast the product's time-outs without slowing the tests.
  void SetTimeScale(unsigned scale);
  // The simulated time every wait took so far.
  DWORD WaitedMs() const;
  // Each object of every query takes the provider `milliseconds` of
  // simulated time: a Next whose time-out is shorter waits its time-out and
  // returns WBEM_S_TIMEDOUT without one.
  void SlowEveryObject(DWORD milliseconds);
  // Models an out-of-process provider: each call that asks the WMI service
  // for work (ConnectServer, ExecQuery, GetObject) first takes
  // `milliseconds` of real time, as crossing into the service and the
  // provider's host does on a real client. Taking the objects a query has
  // produced (Next, Get) costs nothing extra. For measurements, not tests.
  void SetCallCost(DWORD milliseconds);
  // What the status-text object answers for `hr`.
  void SetStatusText(HRESULT hr, const std::wstring& text);

  int CallCount(SimMethod method) const;
  // What callers passed most recently.
  sim::Recorded LastCalls() const;

  // Simulated COM objects alive in the process (class objects excluded).
  static long LiveObjects();

 private:
  void Start(sim::Scenario scenario);
  void Install();

  std::shared_ptr<sim::SimState> m_state;
  DWORD m_locatorCookie = 0;
  DWORD m_statusTextCookie = 0;
};

}  // namespace vpltest
