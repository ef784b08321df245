#include "observer/PendingJobsPowerDownObserver.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <string>

#include "common/HResultException.h"
#include "common/Logging.h"
#include "common/ScopedBstr.h"
#include "common/com/ModuleLockCount.h"
#include "common/wmi/WbemQuestion.h"
#include "jobs/AutomationDate.h"
#include "jobs/DateTime.h"
#include "tests/support/DebugFlagsScope.h"
#include "tests/support/HostDoubles.h"
#include "tests/support/PinnedClock.h"
#include "tests/support/ScratchLocalMachine.h"
#include "tests/support/SimClientFixture.h"
#include "tests/support/SystemCapabilitiesScope.h"
#include "tests/support/TokenText.h"

namespace {

using Microsoft::WRL::ComPtr;
using Power = vpltest::SystemCapabilitiesScope::Power;
using Registry = vpltest::ScratchLocalMachine;

constexpr char kKey[] = "Software\\Tarn\\Vesperline";
constexpr char kPolicy[] = "Software\\Policies\\Tarn\\Vesperline";
const std::string kInProgress = "3 SMS\\CMgr jobs in progress";
const std::string kNone = "0 (null)";

std::string Client(const std::string& ccm, const std::string& requests) {
  return R"({"namespaces": {"root\\ccm": {)" + ccm +
         R"(}, "root\\ccm\\SoftMgmtAgent": {"CCM_ExecutionRequestEx": [)" +
         requests + "]}}}";
}
const std::string kRequest = R"({"ContentID": "C", "AdvertID": "A",
    "State": "Running", "RunningState": "Running"})";
const std::string kRunning = Client(R"("CCM_Client": {})", kRequest);

// 22:00 local time: the evening before the night's windows.
__time64_t Evening() {
  return MakeLocalTime(2026, 3, 10, 22, 0, 0, kDstAutomatic);
}
// A ClientSDK time `minutes` from the evening, in the client's local digits.
std::string SdkTime(int minutes) {
  const std::wstring digits =
      CAutomationDate(Evening() + 60 * minutes).Format(L"%Y%m%d%H%M%S");
  return "\"" + std::string(digits.begin(), digits.end()) + ".000000+000\"";
}
// A window occurrence of `type` opening `minutes` from the evening.
std::string Window(int type, int minutes, int seconds = 7200) {
  return R"({"ID": "{W)" + std::to_string(type) + std::to_string(minutes) +
         R"(}", "Type": )" + std::to_string(type) + R"(, "StartTime": )" +
         SdkTime(minutes) + R"(, "EndTime": )" +
         SdkTime(minutes + seconds / 60) + R"(, "Duration": )" +
         std::to_string(seconds) + "}";
}
// The client's "no window" placeholder.
const std::string kPlaceholder = R"({"ID": "{P}", "Type": 1, "Duration": 0,
    "StartTime": "20380119031407.000000+000", "EndTime": "20380119031407.000000+000"})";
// A client with `windows`, ClientSDK updates and applications, the update
// setting, and targeted updates.
std::string WindowClient(const std::string& windows, const std::string& sdk,
                         const std::string& apps = "", bool fallback = false,
                         const std::string& targeted = "") {
  return R"({"namespaces": {"root\\ccm": {"CCM_Client": {}},
      "root\\ccm\\ClientSDK": {"CCM_ServiceWindow": [)" +
         windows + R"(], "CCM_SoftwareUpdate": [)" + sdk +
         R"(], "CCM_Application": [)" + apps +
         R"(]}, "root\\ccm\\Policy\\Machine\\ActualConfig": {
      "CCM_SoftwareUpdatesClientConfig": [{"ServiceWindowManagement": )" +
         (fallback ? "true" : "false") +
         R"(}]}, "root\\ccm\\SoftwareUpdates\\DeploymentAgent": {
      "CCM_TargetedUpdateEx1": [)" +
         targeted + "]}}}";
}
std::string SdkUpdate(int state, const char* id = "U1") {
  return R"({"UpdateID": ")" + std::string(id) + R"(", "EvaluationState": )" +
         std::to_string(state) + "}";
}
std::string Targeted(int status) {
  return R"({"UpdateId": "U1", "UpdateState": 0, "UpdateStatus": )" +
         std::to_string(status) + "}";
}
const std::string kWaitingApp =
    R"({"Id": "ScopeId_1/Application_2", "Name": "Viewer", "EvaluationState": 8})";
// Job A1 due at 22:20, its policy of `policyClass` with `requirements`, on a
// machine with `windows`.
std::string JobClient(const std::string& windows,
                      const std::string& requirements,
                      const char* policyClass = "CCM_SoftwareDistribution") {
  const std::wstring due =
      vpltest::TokenText(vpltest::TokenStart(2026, 3, 10, 22, 20, 1));
  return R"({"namespaces": {"root\\ccm": {"CCM_Client": {}},
      "root\\ccm\\ClientSDK": {"CCM_ServiceWindow": [)" +
         windows +
         R"(], "CCM_SoftwareUpdate": [], "CCM_Application": []},
      "root\\ccm\\Policy\\Machine\\ActualConfig": {
      "CCM_SoftwareUpdatesClientConfig": [], "CCM_Scheduler_ScheduledMessage": [
      {"ScheduledMessageID": "A1-P-R", "TriggerMessage": "", "Triggers": ["SMSSchedule=)" +
         std::string(due.begin(), due.end()) + R"("]}],
      "CCM_SoftwareDistribution": [{"__CLASS": ")" +
         policyClass +
         R"(", "ADV_AdvertisementID": "A1", "ADV_ExpirationTime": null,
      "PRG_PRF_Disabled": false, "PRG_Requirements": ")" +
         requirements + R"("}]}}})";
}
// The same client without the software-update setting: updates keep to
// their own windows.
std::string NoSetting(std::string scenario) {
  const std::string setting = R"([{"ServiceWindowManagement": false}])";
  return scenario.replace(scenario.find(setting), setting.size(), "[]");
}
// The same client without its SDK namespace: the windows cannot be read.
std::string WithoutSdk(std::string scenario) {
  return scenario.replace(scenario.find("ClientSDK"), 9, "ClientSDX");
}
const std::string kKeeps =
    "<SWDReserved><OverrideServiceWindows> false "
    "</OverrideServiceWindows></SWDReserved>";
const std::string kOverrides =
    "<SWDReserved><OverrideServiceWindows>TRUE</OverrideServiceWindows></"
    "SWDReserved>";
const std::string kPending = "3 SMS\\CMgr jobs pending in 30 minutes";
std::string WaitsFor(const char* start) {
  return std::string(
             "3 SMS\\CMgr jobs waiting for the maintenance window at ") +
         start;
}

// What the scripted detector answers, and a trace of its life and questions.
struct {
  bool running, pending, raise;
  std::string trace;
} g_detector;

struct ScriptedDetector final : ISMSJobsDetector {
  explicit ScriptedDetector(DWORD window) : ISMSJobsDetector(L"") {
    g_detector.trace += "new " + std::to_string(window) + ";";
  }
  ~ScriptedDetector() override { g_detector.trace += "delete;"; }
  bool SMSJobsAreRunning() override {
    g_detector.trace += "running;";
    if (g_detector.raise) NTarn::ThrowHResult(WBEM_E_OUT_OF_MEMORY);
    return g_detector.running;
  }
  bool SMSPendingJobsFound() override {
    g_detector.trace += "pending;";
    return g_detector.pending;
  }
  bool SMSJobsRunningOrPending() override { return false; }
  bool FoundRecentPolicyRefreshEvent(int) override { return false; }
};

class PendingJobsObserverTest : public vpltest::SimClientFixture {
 protected:
  void TearDown() override {
    EXPECT_EQ(host_->RefCount(), 1);
    SimClientFixture::TearDown();
  }

  void Create(bool scripted = false) {
    auto scriptedMaker = [](DWORD window, wchar_t*,
                            wchar_t*) -> std::unique_ptr<ISMSJobsDetector> {
      return std::make_unique<ScriptedDetector>(window);
    };
    NTarn::ComObject<PendingJobsPowerDownObserver>* created = nullptr;
    ASSERT_EQ(
        S_OK,
        NTarn::ComObject<PendingJobsPowerDownObserver>::CreateInstance(
            &created, scripted ? +scriptedMaker
                               : &PendingJobsPowerDownObserver::MakeDetector));
    observer_ = created;
  }
  // "<response> <reason>" after checking the call succeeded.
  std::string Query() {
    PowerDownResponse response = static_cast<PowerDownResponse>(7);
    BSTR reason = reinterpret_cast<BSTR>(1);
    EXPECT_EQ(S_OK, observer_->QueryPowerDown(host_.Get(), &response, &reason));
    NTarn::ScopedBstr owner;
    owner.Reset(reason);
    const std::wstring text = reason ? reason : L"(null)";
    return std::to_string(response) + " " +
           std::string(text.begin(), text.end());
  }
  void Release() { EXPECT_EQ(0u, observer_.Reset()); }

  Registry registry_;
  vpltest::DebugFlagsScope flags_{0};
  vpltest::SystemCapabilitiesScope desktop_{false, Power::kAcWithBattery};
  ComPtr<vpltest::FakeServiceProvider> host_ =
      vpltest::MakeFake<vpltest::FakeServiceProvider>();
  ComPtr<IPowerDownObserver> observer_;
};

TEST_F(PendingJobsObserverTest, Decisions) {
  // No monitorJobs: the host never called LoadSettings.
  // clang-format off
  const struct { const char* name; std::string scenario; const char* monitorJobs; bool portable; Power power; std::string answer; } cases[] = {
      {"running deployment", kRunning, "On", false, Power::kBattery, kInProgress},
      {"before LoadSettings", kRunning, nullptr, false, Power::kBattery, kNone},
      {"switch with a blank", kRunning, "on ", false, Power::kBattery, kNone},
      {"no client namespace", R"({"namespaces": {}})", "ON", false, Power::kBattery, kNone},
      {"no client object", Client("", kRequest), "ON", false, Power::kBattery, kNone},
      {"idle client", Client(R"("CCM_Client": {})", ""), "ON", false, Power::kBattery, kNone},
      {"portable on battery", kRunning, "ON", true, Power::kBattery, kNone},
      {"portable on AC without battery", kRunning, "ON", true, Power::kAcWithoutBattery, kNone},
      {"portable on AC with battery", kRunning, "ON", true, Power::kAcWithBattery, kInProgress},
      {"portable, battery unknown", kRunning, "ON", true, Power::kUnreadable, kInProgress},
  };
  // clang-format on
  for (auto test : cases) {
    SCOPED_TRACE(test.name);
    Load(test.scenario);
    vpltest::SystemCapabilitiesScope system(test.portable, test.power);
    Registry::Set(kKey, "MonitorJobs",
                  test.monitorJobs ? test.monitorJobs : "ON");
    Create();
    EXPECT_EQ(S_OK, test.monitorJobs ? observer_->LoadSettings(0) : S_OK);
    EXPECT_EQ(Query(), test.answer);
    Release();
  }
}

TEST_F(PendingJobsObserverTest, ScriptedDetection) {
  // The window goes from the key before a second LoadSettings with `flags`.
  // clang-format off
  const struct { const char* name; bool running, pending, raise; DWORD flags; std::string answer, trace; } cases[] = {
      {"running and pending", true, true, false, 0x10, kInProgress, "new 30;running;delete;"},
      {"pending only", false, true, false, 0x10, "3 SMS\\CMgr jobs pending in 30 minutes", "new 30;running;pending;delete;"},
      {"window cleared, still asked", false, false, false, 0, kNone, "new 0;running;pending;delete;"},
      {"raised in detection", false, true, true, 0x10, kNone, "new 30;running;delete;"},
  };
  // clang-format on
  Load(Client(R"("CCM_Client": {})", ""));
  Registry::Set(kKey, "MonitorJobs", "ON");
  for (auto test : cases) {
    SCOPED_TRACE(test.name);
    g_detector = {test.running, test.pending, test.raise, ""};
    Registry::Set(kKey, "PendingSMSJobWindowMins", 30);
    Create(/*scripted=*/true);
    EXPECT_EQ(S_OK, observer_->LoadSettings(0));
    Registry::Delete(kKey, "PendingSMSJobWindowMins");
    EXPECT_EQ(S_OK, observer_->LoadSettings(test.flags));
    vpltest::LogCapture::Clear();
    EXPECT_EQ(Query(), test.answer);
    EXPECT_EQ(g_detector.trace, test.trace);
    EXPECT_EQ(vpltest::LogCapture::Contains(
                  "[T] INFO: Catching and handling HRESULT exception "
                  ".\\PendingJobsPowerDownObserver:"),
              test.raise);
    Release();
  }
}

// Maintenance windows, through the simulated client: the answer with the
// rules on, and (`off`) with them off, a 30-minute window and the clock at
// 22:00.
TEST_F(PendingJobsObserverTest, MaintenanceWindows) {
  const std::string kWaits = SdkUpdate(14);
  // clang-format off
  const struct { const char* name; std::string scenario; std::string on, off; const char* ignored = ""; } cases[] = {
      {"update window opens in 20", WindowClient(Window(4, 20), kWaits), WaitsFor("2026-03-10 22:20"), kNone},
      {"opens at the edge", WindowClient(Window(4, 30), kWaits), WaitsFor("2026-03-10 22:30"), kNone},
      {"opens a minute later", WindowClient(Window(4, 31), kWaits), kNone, kNone},
      {"open now", WindowClient(Window(4, -60, 3600 * 3), kWaits), WaitsFor("2026-03-10 21:00"), kNone},
      {"just closed", WindowClient(Window(4, -60, 3600), kWaits), kNone, kNone},
      {"earlier of two", WindowClient(Window(4, 25) + "," + Window(4, 10), kWaits), WaitsFor("2026-03-10 22:10"), kNone},
      {"first of two", WindowClient(Window(4, 25) + "," + Window(1, 5), kWaits), WaitsFor("2026-03-10 22:25"), kNone},
      {"all deployments, no update window", WindowClient(Window(1, 20), kWaits), WaitsFor("2026-03-10 22:20"), kNone},
      {"all deployments beside a later update window",
       WindowClient(Window(1, 20) + "," + Window(4, 240), kWaits), kNone, kNone},
      {"the same, the client lets updates use it",
       WindowClient(Window(1, 20) + "," + Window(4, 240), kWaits, "", true), WaitsFor("2026-03-10 22:20"), kNone},
      {"the same, without the update setting",
       NoSetting(WindowClient(Window(1, 20) + "," + Window(4, 240), kWaits)), kNone, kNone},
      {"program window", WindowClient(Window(2, 20), kWaits), kNone, kNone},
      {"reboot window", WindowClient(Window(3, 20), kWaits), kNone, kNone},
      {"task-sequence window", WindowClient(Window(5, 20), kWaits), kNone, kNone},
      {"business hours", WindowClient(Window(6, 20), kWaits), kNone, kNone},
      {"placeholder only", WindowClient(kPlaceholder, kWaits), kNone, kNone},
      {"update not waiting", WindowClient(Window(4, 20), SdkUpdate(13)), kNone, kNone},
      {"application, program window", WindowClient(Window(2, 20), "", kWaitingApp), WaitsFor("2026-03-10 22:20"), kNone},
      {"application, task-sequence window", WindowClient(Window(5, 20), "", kWaitingApp), kNone, kNone},
      {"no client SDK", Client(R"("CCM_Client": {})", ""), kNone, kNone},
      // The ClientSDK's documented numbering judges the updates it lists.
      {"pending reboot listed", WindowClient("", SdkUpdate(8), "", false, Targeted(9)), kNone, kInProgress},
      {"installing listed", WindowClient("", SdkUpdate(7), "", false, Targeted(12)), kInProgress, kNone},
      {"verifying listed", WindowClient("", SdkUpdate(11), "", false, Targeted(12)), kInProgress, kNone},
      {"installing, ignored by name", WindowClient("", SdkUpdate(7), "", false, Targeted(9)), kNone, kNone, "Installing"},
      {"another update listed", WindowClient("", SdkUpdate(8, "U2"), "", false, Targeted(9)), kInProgress, kInProgress},
      // A job due at 22:20 that cannot start before its window is not due.
      {"program before its window", JobClient(Window(1, 240), kKeeps), kNone, kPending},
      {"program window open at its start", JobClient(Window(2, 10, 900), kKeeps), kPending, kPending},
      {"program window closed at its start", JobClient(Window(2, 10, 600), kKeeps), kNone, kPending},
      {"program overriding windows", JobClient(Window(1, 240), kOverrides), kPending, kPending},
      {"program without the element", JobClient(Window(1, 240), "<SWDReserved/>"), kPending, kPending},
      {"program, no windows", JobClient("", kKeeps), kPending, kPending},
      {"program, windows unreadable", WithoutSdk(JobClient(Window(1, 240), kKeeps)), kPending, kPending},
      {"program, placeholder only", JobClient(kPlaceholder, kKeeps), kPending, kPending},
      {"program, update window only", JobClient(Window(4, 240), kKeeps), kPending, kPending},
      {"program, task-sequence window only", JobClient(Window(5, 240), kKeeps), kPending, kPending},
      {"task sequence before its window", JobClient(Window(5, 240), kKeeps, "CCM_TaskSequence"), kNone, kPending},
      {"task sequence, program window only", JobClient(Window(2, 240), kKeeps, "CCM_TaskSequence"), kPending, kPending},
  };
  // clang-format on
  vpltest::PinnedClock clock(Evening());
  Registry::Set(kKey, "MonitorJobs", "ON");
  Registry::Set(kKey, "PendingSMSJobWindowMins", 30);
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    Load(test.scenario);
    Registry::Set(kKey, "AllowedShutdownUpdateStates", test.ignored);
    for (const char* windows : {"ON", "OFF"}) {
      Registry::Set(kKey, "MaintenanceWindows", windows);
      Create();
      EXPECT_EQ(S_OK, observer_->LoadSettings(0));
      EXPECT_EQ(Query(), windows[1] == 'N' ? test.on : test.off);
      Release();
    }
  }
  // Only "ON" switches the rules on.
  Load(WindowClient(Window(4, 20), kWaits));
  Registry::Set(kKey, "MaintenanceWindows", "yes");
  Create();
  EXPECT_EQ(S_OK, observer_->LoadSettings(0));
  EXPECT_EQ(Query(), kNone);
  Release();
  // Missing, the switch is created "OFF" like the monitoring switch.
  Registry::Delete(kKey, "MaintenanceWindows");
  Create();
  EXPECT_EQ(S_OK, observer_->LoadSettings(0));
  EXPECT_EQ(Registry::Get(kKey, "MaintenanceWindows"), "OFF");
  Release();
}

// A laptop on battery whose chassis read failed once is exempted from the
// next question on: the failed read was not final.
TEST_F(PendingJobsObserverTest, FailedChassisReadIsAskedAgain) {
  Load(
      R"({"namespaces": {"root\\cimv2": {"Win32_SystemEnclosure": {"ChassisTypes": [9]}},
      "root\\ccm": {"CCM_Client": {}}, "root\\ccm\\SoftMgmtAgent": {"CCM_ExecutionRequestEx": [)" +
      kRequest + "]}}}");
  Sim().FailCall(vpltest::SimMethod::kExecQuery, 1, WBEM_E_FAILED);
  vpltest::SystemCapabilitiesScope battery(false, Power::kBattery);
  NTarn::TheSystemCapabilities().ReplacePortableStateForTesting(
      NTarn::SystemCapabilities::kUndetermined);
  Registry::Set(kKey, "MonitorJobs", "ON");
  Create();
  EXPECT_EQ(S_OK, observer_->LoadSettings(0));
  EXPECT_EQ(Query(), kInProgress);
  EXPECT_EQ(Query(), kNone);
  Release();
}

// A question ends within its time whatever WMI does: a provider slow with
// every object stops the walk when the time is up, a connection that does
// not answer is left to its thread, and while it is, the next question
// answers at once. Each says so in one line. (Times shortened a thousandfold.)
TEST_F(PendingJobsObserverTest, EveryQuestionEndsWithinItsTime) {
  const DWORD budget = NTarn::WbemQuestion::ReplaceBudgetForTesting(300);
  std::string messages;
  for (int i = 0; i < 20; ++i) {
    messages += std::string(i ? "," : "") + R"({"ScheduledMessageID": "{M)" +
                std::to_string(i) + R"(}", "Triggers": ["SMSSchedule=0"]})";
  }
  Load(R"({"namespaces": {"root\\ccm": {"CCM_Client": {}}, "root\\ccm\\SoftMgmtAgent": {"CCM_ExecutionRequestEx": []},
      "root\\ccm\\SoftwareUpdates\\DeploymentAgent": {"CCM_TargetedUpdateEx1": []},
      "root\\ccm\\Policy\\Machine\\ActualConfig": {"CCM_Scheduler_ScheduledMessage": [)" + messages + "]}}}");
  Sim().SlowEveryObject(90);
  Registry::Set(kKey, "MonitorJobs", "ON");
  Registry::Set(kKey, "PendingSMSJobWindowMins", 30);
  Create();
  EXPECT_EQ(S_OK, observer_->LoadSettings(0));
  vpltest::LogCapture::Clear();
  const ULONGLONG start = ::GetTickCount64();
  EXPECT_EQ(Query(), kNone);
  EXPECT_LT(::GetTickCount64() - start, 1000u);
  EXPECT_LT(Sim().LastCalls().nextTimeout, 300);
  const std::string question = "[T]: PendingJobsPowerDownObserver::QueryPowerDown ";
  EXPECT_EQ(vpltest::LogCapture::Messages(),
            std::vector<std::string>{question + "ran out of time in CSMSJobsDetector::SMSPendingJobsFound and answers "
                                                "as if its query had failed\n"});

  Load(kRunning).HangCall(vpltest::SimMethod::kConnectServer, 1, 1000);
  vpltest::LogCapture::Clear();
  EXPECT_EQ(Query(), kNone);
  EXPECT_EQ(Query(), kNone);
  EXPECT_EQ(Sim().CallCount(vpltest::SimMethod::kConnectServer), 1);
  EXPECT_EQ(vpltest::LogCapture::Messages(),
            (std::vector<std::string>{
                question + "ran out of time in IsConfigMgrClientPresent and answers as if its query had failed\n",
                question + "answered at once: a connection to WMI from an earlier question has not returned\n"}));
  // The connection's thread keeps the module until it has returned.
  EXPECT_GT(NTarn::ModuleLocks().Get(), 1);
  while (NTarn::ModuleLocks().Get() > 1) ::Sleep(10);
  EXPECT_EQ(Query(), kInProgress);
  Release();
  NTarn::WbemQuestion::ReplaceBudgetForTesting(budget);
}

// A policy value is never copied into the normal key: once withdrawn, the
// built-in default is written back there and takes effect.
TEST_F(PendingJobsObserverTest, WithdrawnPolicyTakesEffect) {
  Load(kRunning);
  Registry::Set(kPolicy, "MonitorJobs", "ON");
  Registry::Set(kPolicy, "AllowedShutdownJobStates", "Running");
  Create();
  EXPECT_EQ(S_OK, observer_->LoadSettings(0));
  EXPECT_EQ(Query(), kNone);  // State "Running" is ignored
  Registry::Delete(kPolicy, "AllowedShutdownJobStates");
  EXPECT_EQ(S_OK, observer_->LoadSettings(0x10));  // keeps the policy's text
  EXPECT_EQ(Query(), kInProgress);
  EXPECT_EQ(Registry::Get(kKey, "AllowedShutdownJobStates"), "");
  Registry::Delete(kPolicy, "MonitorJobs");
  EXPECT_EQ(S_OK, observer_->LoadSettings(0));
  EXPECT_EQ(Registry::Get(kKey, "MonitorJobs"), "OFF");
  EXPECT_EQ(Query(), kNone);
  // A value of the normal key is written back as it stood.
  Registry::Set(kKey, "MonitorJobs", "on");
  EXPECT_EQ(S_OK, observer_->LoadSettings(0));
  Registry::Delete(kKey, "MonitorJobs");
  EXPECT_EQ(S_OK, observer_->LoadSettings(0));
  EXPECT_EQ(Registry::Get(kKey, "MonitorJobs"), "on");
  // A policy text that changed the value in its only read is the policy's
  // all the same: withdrawn, it leaves the built-in default behind.
  Registry::Set(kPolicy, "MonitorJobs", "YES");
  EXPECT_EQ(S_OK, observer_->LoadSettings(0));
  Registry::Delete(kPolicy, "MonitorJobs");
  Registry::Delete(kKey, "MonitorJobs");
  EXPECT_EQ(S_OK, observer_->LoadSettings(0));
  EXPECT_EQ(Registry::Get(kKey, "MonitorJobs"), "OFF");
  // A read-only read keeps a withdrawn policy's value (it writes nothing
  // back)...
  Registry::Set(kPolicy, "MonitorJobs", "ON");
  EXPECT_EQ(S_OK, observer_->LoadSettings(0));
  Registry::Delete(kPolicy, "MonitorJobs");
  Registry::Delete(kKey, "MonitorJobs");
  EXPECT_EQ(S_OK, observer_->LoadSettings(0x90));
  EXPECT_EQ(Query(), kInProgress);
  // ...and a value it reads from the normal key is no longer the policy's.
  Registry::Set(kPolicy, "MonitorJobs", "ON");
  Registry::Set(kPolicy, "AllowedShutdownJobStates", "Running");
  EXPECT_EQ(S_OK, observer_->LoadSettings(0));
  Registry::Delete(kPolicy, "AllowedShutdownJobStates");
  Registry::Set(kKey, "AllowedShutdownJobStates", "Paused");
  EXPECT_EQ(S_OK, observer_->LoadSettings(0x10));
  Registry::Delete(kKey, "AllowedShutdownJobStates");
  EXPECT_EQ(Query(), kInProgress);
  EXPECT_EQ(Registry::Get(kKey, "AllowedShutdownJobStates"), "Paused");
  Release();
}

// The stale-job hours each question reads again are what LogStatus shows.
TEST_F(PendingJobsObserverTest, StatusShowsTheHoursTheQuestionRead) {
  Load(kRunning);
  Registry::Set(kKey, "MonitorJobs", "ON");
  Create();
  EXPECT_EQ(S_OK, observer_->LoadSettings(0));
  Registry::Set(kKey, "StaleJobHours", 5);
  EXPECT_EQ(Query(), kInProgress);
  vpltest::DebugFlagsScope verbose(NTarn::debug_flags::kVerbose);
  vpltest::LogCapture::Clear();
  EXPECT_EQ(S_OK, observer_->LogStatus());
  EXPECT_TRUE(vpltest::LogCapture::Contains("Stale Job Hours = 5\n"));
  Release();
}

TEST_F(PendingJobsObserverTest, NameAndNullArguments) {
  Create();
  NTarn::ScopedBstr name;
  EXPECT_EQ(S_OK, observer_->GetObserverName(name.Receive()));
  EXPECT_STREQ(name.Get(), L"Pending (or) running jobs power down observer");
  constexpr HRESULT kNull = HRESULT_FROM_WIN32(ERROR_INVALID_ADDRESS);
  EXPECT_EQ(kNull, observer_->GetObserverName(nullptr));
  PowerDownResponse response = PowerDownResponse_Objection;
  BSTR reason = reinterpret_cast<BSTR>(1);
  IPowerDownObserver* o = observer_.Get();
  EXPECT_EQ(S_OK, o->QueryPowerDown2(host_.Get(), &response, &reason));
  EXPECT_TRUE(response == PowerDownResponse_NoObjection && reason == nullptr);
  for (auto query : {&IPowerDownObserver::QueryPowerDown,
                     &IPowerDownObserver::QueryPowerDown2}) {
    EXPECT_EQ(kNull, (o->*query)(nullptr, &response, &reason));
    EXPECT_EQ(kNull, (o->*query)(host_.Get(), nullptr, &reason));
    EXPECT_EQ(kNull, (o->*query)(host_.Get(), &response, nullptr));
  }
  Release();
}

}  // namespace
