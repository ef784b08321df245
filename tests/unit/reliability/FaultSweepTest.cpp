// Every WMI call a question makes, failed in turn with every kind of failure
// the simulated client offers: the answer is the safe one, the failure is
// logged where its line is fixed, and nothing is left behind.
#include <gtest/gtest.h>
#include <wbemcli.h>
#include <wrl/client.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "common/Logging.h"
#include "common/ScopedBstr.h"
#include "jobs/AutomationDate.h"
#include "jobs/SMSJobsDetector.h"
#include "observer/PendingJobsPowerDownObserver.h"
#include "plugin/Module.h"
#include "tests/support/DebugFlagsScope.h"
#include "tests/support/HostDoubles.h"
#include "tests/support/PinnedClock.h"
#include "tests/support/ScratchLocalMachine.h"
#include "tests/support/SimClientFixture.h"
#include "tests/support/SystemCapabilitiesScope.h"
#include "tests/support/TokenText.h"

namespace {

using Microsoft::WRL::ComPtr;
using vpltest::LogCapture;
using vpltest::SimMethod;

constexpr wchar_t kWhy[] = L"injected fault";
const std::string kNoObjection = "0 (null)";
const std::string kInProgress = "3 SMS\\CMgr jobs in progress";
const std::string kPending = "3 SMS\\CMgr jobs pending in 30 minutes";

// 10:00 local time on a fixed day: the pinned now of every question.
__time64_t Now() {
  tm fields{};
  fields.tm_year = 126, fields.tm_mon = 2, fields.tm_mday = 10;
  fields.tm_hour = 10, fields.tm_isdst = -1;
  return _mktime64(&fields);
}
std::string Narrow(const std::wstring& text) {
  return std::string(text.begin(), text.end());
}
std::string Client(const std::string& ns, const std::string& classes) {
  return R"({"namespaces": {"root\\ccm": {"CCM_Client": {}}, "root\\ccm\\)" +
         ns + R"(": {)" + classes + "}}}";
}
std::string Deployment(const std::string& state) {
  return Client(
      "SoftMgmtAgent",
      R"("CCM_ExecutionRequestEx": [{"ContentID": "C", "AdvertID": "A",
                   "State": )" +
          state + R"(, "RunningState": "Running"}])");
}
std::string Update(const std::string& status) {
  return Client(
      "SoftwareUpdates\\\\DeploymentAgent",
      R"("CCM_TargetedUpdateEx1": [{"UpdateId": "U1", "UpdateState": 0,
                   "UpdateStatus": )" +
          status + "}]");
}
// Job A1 whose trigger is `triggers`; by default due at 10:20.
std::string Job(std::string triggers = "",
                const std::string& id = R"("A1-P-R")") {
  if (triggers.empty()) {
    vpltest::TokenFields f;
    f.year = 2026, f.month = 3, f.day = 10, f.hour = 10, f.minute = 20;
    triggers = "[\"SMSSchedule=" + Narrow(vpltest::TokenText(f)) + "\"]";
  }
  return Client(
      "Policy\\\\Machine\\\\ActualConfig",
      R"("CCM_Scheduler_ScheduledMessage": [{"ScheduledMessageID": )" + id +
          R"(, "TriggerMessage": "", "Triggers": )" + triggers +
          R"(}], "CCM_SoftwareDistribution": [{"ADV_AdvertisementID":
                    "A1", "ADV_ExpirationTime": null, "PRG_PRF_Disabled": false}])");
}
// A policy refresh fired `fired` (two minutes before now by default).
std::string Refresh(const std::string& id, std::string fired = "") {
  if (fired.empty())
    fired = "\"" +
            Narrow(CAutomationDate(Now() - 120).Format(L"%Y%m%d%H%M%S")) +
            ".000000+000\"";
  return Client("Scheduler", R"("CCM_Scheduler_History": [{"ScheduleID": )" +
                                 id + R"(, "LastTriggerTime": )" + fired +
                                 "}]");
}
const std::string kRefreshId = R"("{00000000-0000-0000-0000-000000000022}")";

class FaultSweep : public vpltest::SimClientFixture {
 protected:
  // "<response> <reason>" of one power-down question with monitoring on and a
  // 30-minute window.
  static std::string Observe() {
    ComObject<PendingJobsPowerDownObserver>* created = nullptr;
    EXPECT_EQ(S_OK, ComObject<PendingJobsPowerDownObserver>::CreateInstance(
                        &created));
    ComPtr<IPowerDownObserver> observer = created;
    EXPECT_EQ(S_OK, observer->LoadSettings(0));
    auto host = vpltest::MakeFake<vpltest::FakeServiceProvider>();
    PowerDownResponse response = static_cast<PowerDownResponse>(7);
    NTarn::ScopedBstr reason;
    EXPECT_EQ(S_OK, observer->QueryPowerDown(host.Get(), &response,
                                             reason.Receive()));
    EXPECT_EQ(0u, observer.Reset());
    EXPECT_EQ(1, host->RefCount());
    return std::to_string(response) + " " +
           (reason.Get() ? Narrow(reason.Get()) : "(null)");
  }
  static std::string Refreshed() {
    return CSMSJobsDetector(L"").FoundRecentPolicyRefreshEvent(5) ? "yes"
                                                                  : "no";
  }

  vpltest::ScratchLocalMachine registry_;
  vpltest::DebugFlagsScope flags_{0};
  vpltest::SystemCapabilitiesScope desktop_{
      false, vpltest::SystemCapabilitiesScope::Power::kAcWithBattery};
  vpltest::PinnedClock clock_{Now()};
};

struct Call {
  SimMethod method;
  int call;
  bool operator==(const Call& other) const {
    return method == other.method && call == other.call;
  }
};
struct Fault {
  const char* kind;
  std::function<void(vpltest::SimulatedClient&, Call)> inject;
  bool nextOnly;
};

TEST_F(FaultSweep, EveryCallFailsSafe) {
  vpltest::ScratchLocalMachine::Set("Software\\Tarn\\Vesperline", "MonitorJobs",
                                    "ON");
  vpltest::ScratchLocalMachine::Set("Software\\Tarn\\Vesperline",
                                    "PendingSMSJobWindowMins", DWORD{30});
  const std::string refreshFailed =
      "[T]: CSMSJobsDetector::FoundRecentPolicyRefreshEvent: injected fault\n";
  const std::function<std::string()> observe = &Observe, refreshed = &Refreshed;
  // `busy` is the answer without a fault, `safe` the one a fault must give,
  // except a fault in `keep`: a call of a question that finds nothing anyway
  // (its namespace is absent), the fetch after the busy object was seen, the
  // job name, or the advertisement check (a job whose policy cannot be read
  // stays due). `lines`: exact lines an error of that call writes. Rows
  // without a sweep hold data the question cannot use.
  const auto kLocator = SimMethod::kCreateLocator;
  const auto kConnect = SimMethod::kConnectServer;
  const auto kQuery = SimMethod::kExecQuery;
  const auto kNext = SimMethod::kNext;
  const auto kGet = SimMethod::kGet;
  const std::string updatesFailed =
      "[T]: CSMSJobsDetector::SMSSoftwareUpdatesAreRunning: injected fault\n";
  // clang-format off
  const struct { const char* name; std::string scenario; std::function<std::string()> ask; std::string busy, safe;
                 bool sweep; std::vector<Call> keep; std::vector<std::pair<Call, std::string>> lines; } questions[] = {
      {"running deployment", Deployment(R"("Running")"), observe, kInProgress, kNoObjection, true, {{kNext, 2}},
       {{{kQuery, 1}, "[T]: CSMSJobsDetector::SMSJobsAreRunning: Failed all four query attempts - bailing out with no jobs found\n"}}},
      {"running update", Update("7"), observe, kInProgress, kNoObjection, true, {{kLocator, 2}, {kConnect, 2}, {kNext, 2}},
       {{{kQuery, 1}, updatesFailed}}},
      {"job due in 20 minutes", Job(), observe, kPending, kNoObjection, true,
       {{kLocator, 2}, {kLocator, 3}, {kConnect, 2}, {kConnect, 3}, {kQuery, 2}, {kNext, 2}, {kGet, 2}, {kGet, 3}, {kGet, 5}},
       {{{kQuery, 1}, "[T]: CSMSJobsDetector::SMSPendingJobsFound: injected fault\n"},
        {{kQuery, 2}, "[T]: CSMSJobsDetector::SMSJobDisabledOrExpired, ExecQuery failed for Advert ID A1: injected fault\n"},
        {{kGet, 2}, "[T]: CSMSJobsDetector::SMSJobDisabledOrExpired, ADV_ExpirationTime not retrieved: injected fault\n"},
        {{kGet, 3}, "[T]: CSMSJobsDetector::SMSJobDisabledOrExpired, PRG_PRF_Disabled not retrieved: injected fault\n"},
        {{kGet, 4}, "[T]: SMSJobsDetector:- injected fault\n"}}},
      {"recent policy refresh", Refresh(kRefreshId), refreshed, "yes", "no", true, {},
       {{{kQuery, 1}, refreshFailed}, {{kGet, 1}, refreshFailed}, {{kGet, 2}, refreshFailed}}},
      {"update status null", Update("null"), observe, kNoObjection, kNoObjection, false, {}, {}},
      {"update status text", Update(R"({"cimType": "string", "value": "7"})"), observe, kNoObjection, kNoObjection, false, {}, {}},
      {"job id a number", Job("", R"({"cimType": "uint32", "value": 1})"), observe, kNoObjection, kNoObjection, false, {}, {}},
      {"triggers null", Job("null"), observe, kNoObjection, kNoObjection, false, {}, {}},
      {"triggers a text", Job(R"({"cimType": "string", "value": "SMSSchedule=0"})"), observe, kNoObjection, kNoObjection, false, {}, {}},
      {"refresh id a number", Refresh(R"({"cimType": "uint32", "value": 22})"), refreshed, "no", "no", false, {}, {}},
      {"refresh time null", Refresh(kRefreshId, "null"), refreshed, "no", "no", false, {}, {}},
      {"refresh time text", Refresh(kRefreshId, R"({"cimType": "string", "value": "x"})"), refreshed, "no", "no", false, {}, {}},
  };
  const Fault faults[] = {
      {"error", [](vpltest::SimulatedClient& sim, Call c) { sim.FailCall(c.method, c.call, WBEM_E_FAILED, kWhy); }, false},
      {"time-out", [](vpltest::SimulatedClient& sim, Call c) { sim.TimeOutNext(c.call); }, true},
      {"error with object", [](vpltest::SimulatedClient& sim, Call c) { sim.FailNextWithObject(c.call, WBEM_E_FAILED); }, true},
  };
  // clang-format on
  for (const auto& question : questions) {
    SCOPED_TRACE(question.name);
    // The calls of an undisturbed question.
    int counts[static_cast<int>(SimMethod::kCount)] = {};
    {
      vpltest::SimulatedClient& sim = Load(question.scenario);
      EXPECT_EQ(question.ask(), question.busy);
      for (int m = 0; m < static_cast<int>(SimMethod::kCount); ++m)
        counts[m] = sim.CallCount(static_cast<SimMethod>(m));
      Unload();
      EXPECT_EQ(vpltest::SimulatedClient::LiveObjects(), 0);
    }
    if (!question.sweep) continue;
    EXPECT_GT(counts[static_cast<int>(SimMethod::kExecQuery)], 0);
    for (int m = 0; m < static_cast<int>(SimMethod::kCount); ++m) {
      for (int n = 1; n <= counts[m]; ++n) {
        const Call call{static_cast<SimMethod>(m), n};
        for (const Fault& fault : faults) {
          if (fault.nextOnly && call.method != SimMethod::kNext) continue;
          SCOPED_TRACE(std::string(fault.kind) + " in call " +
                       std::to_string(n) + " of method " + std::to_string(m));
          LogCapture::Clear();
          fault.inject(Load(question.scenario), call);
          const bool kept =
              std::find(question.keep.begin(), question.keep.end(), call) !=
              question.keep.end();
          EXPECT_EQ(question.ask(), kept ? question.busy : question.safe);
          for (const auto& [where, line] : question.lines) {
            if (where == call && std::string(fault.kind) == "error") {
              EXPECT_TRUE(LogCapture::Contains(line)) << line;
            }
          }
          Unload();
          EXPECT_EQ(vpltest::SimulatedClient::LiveObjects(), 0);
          EXPECT_EQ(Module().GetLockCount(), 0);
        }
      }
    }
  }
}

}  // namespace
