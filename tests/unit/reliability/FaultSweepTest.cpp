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

#include "common/ScopedBstr.h"
#include "jobs/AutomationDate.h"
#include "jobs/DateTime.h"
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
using Call = std::pair<SimMethod, int>;

const std::string kNo = "0 (null)";
const std::string kInProgress = "3 SMS\\CMgr jobs in progress";

// 10:00 local time on a fixed day: the pinned now of every question.
__time64_t Now() { return MakeLocalTime(2026, 3, 10, 10, 0, 0, kDstAutomatic); }
std::string Narrow(const std::wstring& text) {
  return std::string(text.begin(), text.end());
}
// A client whose only busy data is `classes` in namespace `ns`.
// clang-format off
std::string Client(const std::string& ns, const std::string& classes) {
  return R"({"namespaces": {"root\\ccm": {"CCM_Client": {}}, "root\\ccm\\)" + ns + R"(": {)" + classes + "}}}";
}
std::string Deployment(const std::string& state) {
  return Client("SoftMgmtAgent", R"("CCM_ExecutionRequestEx": [{"ContentID": "C", "AdvertID": "A", "State": )" + state +
                                     R"(, "RunningState": "Running"}])");
}
std::string Update(const std::string& status) {
  return Client("SoftwareUpdates\\\\DeploymentAgent",
                R"("CCM_TargetedUpdateEx1": [{"UpdateId": "U1", "UpdateState": 0, "UpdateStatus": )" + status + "}]");
}
// Job A1 (enabled, never expiring) with `triggers`, by default due at 10:20.
std::string Job(std::string triggers = "", const std::string& id = R"("A1-P-R")") {
  const std::wstring due = vpltest::TokenText(vpltest::TokenStart(2026, 3, 10, 10, 20, 1));
  if (triggers.empty()) triggers = "[\"SMSSchedule=" + Narrow(due) + "\"]";
  return Client("Policy\\\\Machine\\\\ActualConfig",
                R"("CCM_Scheduler_ScheduledMessage": [{"ScheduledMessageID": )" + id + R"(, "TriggerMessage": "", "Triggers": )" +
                    triggers + R"(}], "CCM_SoftwareDistribution": [{"ADV_AdvertisementID": "A1", "ADV_ExpirationTime": null,
                    "PRG_PRF_Disabled": false}])");
}
// An update waiting for a software-update window that opens at 10:20, with
// the ClientSDK's classes and the update setting; and an update the ClientSDK
// lists as installing while the deployment agent's number says it waits.
std::string WindowWait() {
  const std::string start = Narrow(CAutomationDate(Now() + 1200).Format(L"%Y%m%d%H%M%S")) + ".000000+000";
  return R"({"namespaces": {"root\\ccm": {"CCM_Client": {}}, "root\\ccm\\ClientSDK": {"CCM_ServiceWindow": [{"ID": "W",
      "Type": 4, "StartTime": ")" + start + R"(", "Duration": 3600}], "CCM_SoftwareUpdate": [{"UpdateID": "U1",
      "EvaluationState": 14}], "CCM_Application": []}, "root\\ccm\\Policy\\Machine\\ActualConfig": {
      "CCM_SoftwareUpdatesClientConfig": [{"ServiceWindowManagement": false}]}}})";
}
std::string SdkInstalling() {
  return R"({"namespaces": {"root\\ccm": {"CCM_Client": {}}, "root\\ccm\\ClientSDK": {"CCM_ServiceWindow": [],
      "CCM_SoftwareUpdate": [{"UpdateID": "U1", "EvaluationState": 7}], "CCM_Application": []},
      "root\\ccm\\SoftwareUpdates\\DeploymentAgent": {"CCM_TargetedUpdateEx1": [{"UpdateId": "U1", "UpdateState": 0,
      "UpdateStatus": 12}]}}})";
}
// A policy refresh that fired `fired`, by default two minutes ago.
std::string Refresh(const std::string& id = R"("{00000000-0000-0000-0000-000000000022}")", std::string fired = "") {
  if (fired.empty()) fired = "\"" + Narrow(CAutomationDate(Now() - 120).Format(L"%Y%m%d%H%M%S")) + ".000000+000\"";
  return Client("Scheduler", R"("CCM_Scheduler_History": [{"ScheduleID": )" + id + R"(, "LastTriggerTime": )" + fired + "}]");
}
// clang-format on

class FaultSweep : public vpltest::SimClientFixture {
 protected:
  // The refresh check's "yes" or "no", or the "<response> <reason>" of one
  // power-down question with monitoring on and a 30-minute window.
  static std::string Ask(bool refresh) {
    if (refresh)
      return CSMSJobsDetector(L"").FoundRecentPolicyRefreshEvent(5) ? "yes"
                                                                    : "no";
    NTarn::ComObject<PendingJobsPowerDownObserver>* created = nullptr;
    EXPECT_EQ(S_OK,
              NTarn::ComObject<PendingJobsPowerDownObserver>::CreateInstance(
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

  vpltest::ScratchLocalMachine registry_;
  vpltest::DebugFlagsScope flags_{0};
  vpltest::SystemCapabilitiesScope desktop_{
      false, vpltest::SystemCapabilitiesScope::Power::kAcWithBattery};
  vpltest::PinnedClock clock_{Now()};
};

TEST_F(FaultSweep, EveryCallFailsSafe) {
  registry_.Set("Software\\Tarn\\Vesperline", "MonitorJobs", "ON");
  registry_.Set("Software\\Tarn\\Vesperline", "PendingSMSJobWindowMins",
                DWORD{30});
  const auto kLocator = SimMethod::kCreateLocator;
  const auto kConnect = SimMethod::kConnectServer;
  const auto kQuery = SimMethod::kExecQuery;
  const auto kNext = SimMethod::kNext;
  const auto kGet = SimMethod::kGet;
  const auto kBlanket = SimMethod::kSetBlanket;
  const std::string t = "[T]: CSMSJobsDetector::";
  const std::string w = t + "MaintenanceWindows: ";
  // `busy` is the answer without a fault; any fault gives the safe answer
  // (no objection, no refresh) except one in `keep`: a call of a question
  // that finds nothing anyway (its namespace is absent), the fetch after the
  // busy object was seen, the job name, or the advertisement check (a job
  // whose policy cannot be read stays due; the policies are read in one
  // query, each first for its advertisement ID). `lines`: what an error of that
  // call logs. Rows without a sweep hold data the question cannot use.
  // clang-format off
  // `windows`: with "MaintenanceWindows" "ON"; any fault in the window rules'
  // reads gives the answer without them.
  const struct { const char* name; std::string scenario; bool refresh, sweep; std::string busy;
                 std::vector<Call> keep; std::vector<std::pair<Call, std::string>> lines; bool windows = false; } questions[] = {
      {"running deployment", Deployment(R"("Running")"), false, true, kInProgress, {{kNext, 2}},
       {{{kQuery, 1}, t + "SMSJobsAreRunning: Failed all four query attempts - bailing out with no jobs found\n"}}},
      {"running update", Update("7"), false, true, kInProgress, {{kLocator, 2}, {kConnect, 2}, {kNext, 2}},
       {{{kQuery, 1}, t + "SMSSoftwareUpdatesAreRunning: injected fault\n"}}},
      {"job due in 20 minutes", Job(), false, true, "3 SMS\\CMgr jobs pending in 30 minutes",
       {{kLocator, 2}, {kLocator, 3}, {kConnect, 2}, {kConnect, 3}, {kQuery, 2}, {kNext, 2}, {kNext, 3}, {kGet, 2}, {kGet, 3},
        {kGet, 4}, {kGet, 6}},
       {{{kQuery, 1}, t + "SMSPendingJobsFound: injected fault\n"},
        {{kQuery, 2}, t + "SMSJobDisabledOrExpired, ExecQuery failed for Advert ID A1: injected fault\n"},
        {{kGet, 3}, t + "SMSJobDisabledOrExpired, ADV_ExpirationTime not retrieved: injected fault\n"},
        {{kGet, 4}, t + "SMSJobDisabledOrExpired, PRG_PRF_Disabled not retrieved: injected fault\n"},
        {{kGet, 5}, "[T]: SMSJobsDetector:- injected fault\n"}}},
      {"recent policy refresh", Refresh(), true, true, "yes", {},
       {{{kQuery, 1}, t + "FoundRecentPolicyRefreshEvent: injected fault\n"},
        {{kGet, 1}, t + "FoundRecentPolicyRefreshEvent: injected fault\n"},
        {{kGet, 2}, t + "FoundRecentPolicyRefreshEvent: injected fault\n"}}},
      // The window rules read the windows and the update setting for the
      // pending question and again, with the updates and applications, for
      // the window question; only the latter decide here.
      {"update waiting for its window", WindowWait(), false, true, "3 SMS\\CMgr jobs waiting for the maintenance window at 2026-03-10 10:20",
       {{kLocator, 2}, {kLocator, 3}, {kLocator, 4}, {kLocator, 5}, {kLocator, 6}, {kLocator, 7},
        {kConnect, 2}, {kConnect, 3}, {kConnect, 4}, {kConnect, 5}, {kConnect, 6}, {kConnect, 7},
        {kBlanket, 2}, {kBlanket, 3}, {kBlanket, 4}, {kBlanket, 5},
        {kQuery, 1}, {kQuery, 2}, {kQuery, 3}, {kQuery, 4}, {kQuery, 8},
        {kNext, 1}, {kNext, 2}, {kNext, 3}, {kNext, 4}, {kNext, 5}, {kNext, 6}, {kNext, 7}, {kNext, 14},
        {kGet, 1}, {kGet, 2}, {kGet, 3}, {kGet, 4}, {kGet, 5}, {kGet, 6}, {kGet, 7}, {kGet, 11}, {kGet, 14}},
       {{{kQuery, 2}, w + "CCM_ServiceWindow not read: injected fault; the maintenance window rules are left out\n"},
        {{kQuery, 3}, w + "CCM_SoftwareUpdatesClientConfig not read: injected fault; the maintenance window rules are left out\n"},
        {{kQuery, 5}, w + "CCM_ServiceWindow not read: injected fault; the maintenance window rules are left out\n"},
        {{kQuery, 6}, w + "CCM_SoftwareUpdatesClientConfig not read: injected fault; the maintenance window rules are left out\n"},
        {{kQuery, 7}, w + "CCM_SoftwareUpdate not read: injected fault; updates waiting for a maintenance window are left out\n"},
        {{kQuery, 8}, w + "CCM_Application not read: injected fault; applications waiting for a maintenance window are left out\n"}},
       true},
      {"update the ClientSDK lists as installing", SdkInstalling(), false, true, kInProgress,
       {{kLocator, 2}, {kConnect, 2}, {kNext, 4}},
       {{{kQuery, 1}, t + "SMSSoftwareUpdatesAreRunning: CCM_SoftwareUpdate not read: injected fault; updates are judged by their UpdateStatus\n"}}, true},
      {"update status null", Update("null"), false, false, kNo, {}, {}},
      {"update status text", Update(R"({"cimType": "string", "value": "7"})"), false, false, kNo, {}, {}},
      {"job id a number", Job("", R"({"cimType": "uint32", "value": 1})"), false, false, kNo, {}, {}},
      {"triggers null", Job("null"), false, false, kNo, {}, {}},
      {"triggers a text", Job(R"({"cimType": "string", "value": "SMSSchedule=0"})"), false, false, kNo, {}, {}},
      {"refresh id a number", Refresh(R"({"cimType": "uint32", "value": 22})"), true, false, "no", {}, {}},
      {"refresh time null", Refresh(R"("{00000000-0000-0000-0000-000000000022}")", "null"), true, false, "no", {}, {}},
      {"refresh time text", Refresh(R"("DEADLINE:{X}")", R"({"cimType": "string", "value": "x"})"), true, false, "no", {}, {}},
  };
  // clang-format on
  // A hung provider (hanging far longer than any time-out, in simulated time
  // that runs a thousand times faster) is what ExecQuery and GetObject can
  // meet; it costs the question one time-out, and its line names it.
  const char* const kinds[] = {"error", "time-out", "error with object",
                               "hang"};
  const auto kindsOf = [&](SimMethod method) -> std::vector<int> {
    if (method == kNext) return {0, 1, 2};
    if (method == kQuery || method == SimMethod::kGetObject) return {0, 3};
    return {0};
  };
  for (const auto& question : questions) {
    SCOPED_TRACE(question.name);
    registry_.Set("Software\\Tarn\\Vesperline", "MaintenanceWindows",
                  question.windows ? "ON" : "OFF");
    // The calls of an undisturbed question.
    int counts[static_cast<int>(SimMethod::kCount)] = {};
    vpltest::SimulatedClient& undisturbed = Load(question.scenario);
    EXPECT_EQ(Ask(question.refresh), question.busy);
    for (int m = 0; m < static_cast<int>(SimMethod::kCount); ++m)
      counts[m] = undisturbed.CallCount(static_cast<SimMethod>(m));
    EXPECT_GT(counts[static_cast<int>(kQuery)], 0);
    for (int m = 0; question.sweep && m < static_cast<int>(SimMethod::kCount);
         ++m) {
      for (int n = 1; n <= counts[m]; ++n) {
        const Call call{static_cast<SimMethod>(m), n};
        // Time-outs and failures with an object are what Next can do.
        for (const int kind : kindsOf(call.first)) {
          SCOPED_TRACE(std::string(kinds[kind]) + " in call " +
                       std::to_string(n) + " of method " + std::to_string(m));
          LogCapture::Clear();
          vpltest::SimulatedClient& sim = Load(question.scenario);
          if (kind == 0)
            sim.FailCall(call.first, n, WBEM_E_FAILED, L"injected fault");
          if (kind == 1) sim.TimeOutNext(n);
          if (kind == 2) sim.FailNextWithObject(n, WBEM_E_FAILED);
          if (kind == 3) {
            sim.SetTimeScale(1000);
            sim.HangCall(call.first, n, 3600000);
          }
          const bool kept =
              std::count(question.keep.begin(), question.keep.end(), call) != 0;
          const std::string safe = question.refresh ? "no" : kNo;
          EXPECT_EQ(Ask(question.refresh), kept ? question.busy : safe);
          for (auto [where, line] : question.lines) {
            if (where != call || (kind != 0 && kind != 3)) continue;
            if (kind == 3 && line.find("injected fault") != std::string::npos)
              line.replace(line.find("injected fault"), 14,
                           vpltest::kTimedOutText);
            EXPECT_TRUE(LogCapture::Contains(line)) << line;
          }
          if (kind == 3) {
            EXPECT_EQ(sim.WaitedMs(), DWORD{10000});
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
