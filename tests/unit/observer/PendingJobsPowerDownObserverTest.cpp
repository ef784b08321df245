#include "observer/PendingJobsPowerDownObserver.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "common/HResultException.h"
#include "common/Logging.h"
#include "tests/support/DebugFlagsScope.h"
#include "tests/support/HostDoubles.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ScratchLocalMachine.h"
#include "tests/support/SimClientFixture.h"
#include "tests/support/SystemCapabilitiesScope.h"

namespace {

using Microsoft::WRL::ComPtr;
using vpltest::DebugFlagsScope;
using vpltest::LogCapture;
using vpltest::SimMethod;
using Power = vpltest::SystemCapabilitiesScope::Power;
using Lines = std::vector<std::string>;

constexpr char kSettings[] = "Software\\Tarn\\Vesperline";
constexpr char kPolicy[] = "Software\\Policies\\Tarn\\Vesperline";
constexpr HRESULT kNullArgument = HRESULT_FROM_WIN32(ERROR_INVALID_ADDRESS);
constexpr wchar_t kInProgress[] = L"SMS\\CMgr jobs in progress";

const std::string kClient = R"("root\\ccm": {"CCM_Client": {"ClientId": "1"}})";
const std::string kRunningDeployment =
    R"({"namespaces": {)" + kClient + R"(, "root\\ccm\\SoftMgmtAgent": {
        "CCM_ExecutionRequestEx": {"ContentID": "C1", "AdvertID": "A1",
        "State": "Running", "RunningState": "Running"}}}})";
const std::string kInstallingUpdate =
    R"({"namespaces": {)" + kClient + R"(, "root\\ccm\\SoftMgmtAgent": {
        "CCM_ExecutionRequestEx": []},
        "root\\ccm\\SoftwareUpdates\\DeploymentAgent": {
        "CCM_TargetedUpdateEx1": {"UpdateId": "U1", "UpdateState": 0,
        "UpdateStatus": 9}}}})";
const std::string kIdle =
    R"({"namespaces": {)" + kClient + R"(, "root\\ccm\\SoftMgmtAgent": {
        "CCM_ExecutionRequestEx": []},
        "root\\ccm\\SoftwareUpdates\\DeploymentAgent": {
        "CCM_TargetedUpdateEx1": []}}})";
const std::string kRunningSample = VPL_SAMPLES_DIR "/deployment-running.json";
const std::string kNoClientNamespace = R"({"namespaces": {}})";
const std::string kNoClientObject =
    R"({"namespaces": {"root\\ccm": {}, "root\\ccm\\SoftMgmtAgent": {
        "CCM_ExecutionRequestEx": {"ContentID": "C1", "AdvertID": "A1",
        "State": "Running", "RunningState": "Running"}}}})";

// A detector whose answers a test scripts, recording what it was given.
struct Script {
  bool running = false;
  bool pending = false;
  enum class Raise { kNothing, kHResult, kOutOfMemory } raise = Raise::kNothing;
};
struct Seen {
  int made = 0;
  int alive = 0;
  int pendingAsked = 0;
  DWORD window = 0;
  std::wstring jobStates;
  std::wstring updateStates;
};
Script g_script;
Seen g_seen;

class ScriptedDetector final : public ISMSJobsDetector {
 public:
  ScriptedDetector() : ISMSJobsDetector(L"") { ++g_seen.alive; }
  ~ScriptedDetector() override { --g_seen.alive; }
  bool SMSJobsAreRunning() override {
    if (g_script.raise == Script::Raise::kHResult) {
      NTarn::ThrowHResult(WBEM_E_OUT_OF_MEMORY);
    }
    if (g_script.raise == Script::Raise::kOutOfMemory) throw std::bad_alloc();
    return g_script.running;
  }
  bool SMSPendingJobsFound() override {
    ++g_seen.pendingAsked;
    return g_script.pending;
  }
  bool SMSJobsRunningOrPending() override { return false; }
  bool FoundRecentPolicyRefreshEvent(int) override { return false; }
};

std::unique_ptr<ISMSJobsDetector> MakeScripted(DWORD window, wchar_t* jobs,
                                               wchar_t* updates) {
  ++g_seen.made;
  g_seen.window = window;
  g_seen.jobStates = jobs;
  g_seen.updateStates = updates;
  return std::make_unique<ScriptedDetector>();
}

struct Answer {
  HRESULT hr;
  PowerDownResponse response;
  std::wstring reason;  // "(null)" for a null reason
};
bool operator==(const Answer& a, const Answer& b) {
  return a.hr == b.hr && a.response == b.response && a.reason == b.reason;
}
void PrintTo(const Answer& a, std::ostream* os) {
  *os << std::hex << a.hr << "/" << std::dec << a.response << "/"
      << std::string(a.reason.begin(), a.reason.end());
}
const Answer kNoObjection{S_OK, PowerDownResponse_NoObjection, L"(null)"};
const Answer kJobsInProgress{S_OK, PowerDownResponse_Objection, kInProgress};

class PendingJobsObserverTest : public vpltest::SimClientFixture {
 protected:
  void SetUp() override {
    SimClientFixture::SetUp();
    g_script = Script();
    g_seen = Seen();
  }
  void TearDown() override {
    EXPECT_EQ(g_seen.alive, 0);
    EXPECT_EQ(host_->RefCount(), 1);
    SimClientFixture::TearDown();
  }

  static ComPtr<IPowerDownObserver> Create(
      PendingJobsPowerDownObserver::DetectorFactory factory =
          &PendingJobsPowerDownObserver::MakeDetector) {
    ComObject<PendingJobsPowerDownObserver>* created = nullptr;
    EXPECT_EQ(S_OK, ComObject<PendingJobsPowerDownObserver>::CreateInstance(
                        &created, factory));
    return ComPtr<IPowerDownObserver>(created);
  }

  Answer Query(IPowerDownObserver* observer) {
    PowerDownResponse response = static_cast<PowerDownResponse>(7);
    BSTR reason = reinterpret_cast<BSTR>(1);
    const HRESULT hr =
        observer->QueryPowerDown(host_.Get(), &response, &reason);
    Answer answer{hr, response, reason ? reason : L"(null)"};
    ::SysFreeString(reason);
    return answer;
  }

  // Settings as a host would store them, then LoadSettings with `flags`.
  ComPtr<IPowerDownObserver> Loaded(
      const char* monitorJobs, DWORD flags = 0,
      PendingJobsPowerDownObserver::DetectorFactory factory =
          &PendingJobsPowerDownObserver::MakeDetector) {
    registry_.SetString(kSettings, "MonitorJobs", monitorJobs);
    ComPtr<IPowerDownObserver> observer = Create(factory);
    EXPECT_EQ(S_OK, observer->LoadSettings(flags));
    return observer;
  }

  static void ExpectReleased(ComPtr<IPowerDownObserver>& observer) {
    EXPECT_EQ(0u, observer.Reset());
  }

  vpltest::ScratchLocalMachine registry_;
  DebugFlagsScope flags_{0};
  vpltest::SystemCapabilitiesScope system_{false, Power::kAcWithBattery};
  ComPtr<vpltest::FakeServiceProvider> host_ =
      vpltest::MakeFake<vpltest::FakeServiceProvider>();
};

struct DecisionCase {
  const char* name;
  const std::string& scenario;
  const char* monitorJobs;
  bool portable;
  Power power;
  Answer answer;
};

TEST_F(PendingJobsObserverTest, Decisions) {
  const DecisionCase cases[] = {
      {"running deployment", kRunningDeployment, "On", false,
       Power::kAcWithBattery, kJobsInProgress},
      {"installing update", kInstallingUpdate, "ON", false, Power::kBattery,
       kJobsInProgress},
      {"bundled sample running a deployment", kRunningSample, "ON", false,
       Power::kAcWithBattery, kJobsInProgress},
      {"idle client", kIdle, "ON", false, Power::kAcWithBattery, kNoObjection},
      {"switch with a blank", kRunningDeployment, "on ", false,
       Power::kAcWithBattery, kNoObjection},
      {"switch off", kRunningDeployment, "OFF", false, Power::kAcWithBattery,
       kNoObjection},
      {"no client namespace", kNoClientNamespace, "ON", false,
       Power::kAcWithBattery, kNoObjection},
      {"no client object", kNoClientObject, "ON", false, Power::kAcWithBattery,
       kNoObjection},
      {"portable on battery", kRunningDeployment, "ON", true, Power::kBattery,
       kNoObjection},
      {"portable on AC without battery", kRunningDeployment, "ON", true,
       Power::kAcWithoutBattery, kNoObjection},
      {"portable on AC with battery", kRunningDeployment, "ON", true,
       Power::kAcWithBattery, kJobsInProgress},
      {"portable, battery unreadable", kRunningDeployment, "ON", true,
       Power::kUnreadable, kJobsInProgress},
  };
  for (const DecisionCase& test : cases) {
    SCOPED_TRACE(test.name);
    Load(test.scenario);
    vpltest::SystemCapabilitiesScope system(test.portable, test.power);
    ComPtr<IPowerDownObserver> observer = Loaded(test.monitorJobs);
    EXPECT_EQ(Query(observer.Get()), test.answer);
    ExpectReleased(observer);
  }
}

TEST_F(PendingJobsObserverTest, BeforeLoadSettingsNothingIsAsked) {
  Load(kRunningDeployment);
  registry_.SetString(kSettings, "MonitorJobs", "ON");
  ComPtr<IPowerDownObserver> observer = Create();
  EXPECT_EQ(Query(observer.Get()), kNoObjection);
  EXPECT_EQ(Sim().CallCount(SimMethod::kCreateLocator), 0);
  ExpectReleased(observer);
}

TEST_F(PendingJobsObserverTest, NamesAndNullArguments) {
  Load(kRunningDeployment);
  ComPtr<IPowerDownObserver> observer = Loaded("ON");
  BSTR name = reinterpret_cast<BSTR>(1);
  EXPECT_EQ(S_OK, observer->GetObserverName(&name));
  EXPECT_STREQ(name, L"Pending (or) running jobs power down observer");
  ::SysFreeString(name);
  EXPECT_EQ(kNullArgument, observer->GetObserverName(nullptr));

  PowerDownResponse response = PowerDownResponse_Objection;
  BSTR reason = reinterpret_cast<BSTR>(1);
  EXPECT_EQ(S_OK, observer->QueryPowerDown2(host_.Get(), &response, &reason));
  EXPECT_EQ(response, PowerDownResponse_NoObjection);
  EXPECT_EQ(reason, nullptr);
  for (auto query : {&IPowerDownObserver::QueryPowerDown,
                     &IPowerDownObserver::QueryPowerDown2}) {
    EXPECT_EQ(kNullArgument,
              (observer.Get()->*query)(nullptr, &response, &reason));
    EXPECT_EQ(kNullArgument,
              (observer.Get()->*query)(host_.Get(), nullptr, &reason));
    EXPECT_EQ(kNullArgument,
              (observer.Get()->*query)(host_.Get(), &response, nullptr));
  }
  EXPECT_EQ(Sim().CallCount(SimMethod::kCreateLocator), 0);
  ExpectReleased(observer);
}

struct ScriptedCase {
  const char* name;
  bool running;
  bool pending;
  DWORD window;
  Answer answer;
  int pendingAsked;
};

TEST_F(PendingJobsObserverTest, RunningIsAskedBeforePending) {
  const ScriptedCase cases[] = {
      {"running and pending", true, true, 30, kJobsInProgress, 0},
      {"pending only",
       false,
       true,
       30,
       {S_OK, PowerDownResponse_Objection,
        L"SMS\\CMgr jobs pending in 30 minutes"},
       1},
      {"window 0 is still asked", false, false, 0, kNoObjection, 1},
  };
  Load(kIdle);
  for (const ScriptedCase& test : cases) {
    SCOPED_TRACE(test.name);
    g_seen = Seen();
    g_script = Script{test.running, test.pending};
    registry_.SetDword(kSettings, "PendingSMSJobWindowMins", test.window);
    ComPtr<IPowerDownObserver> observer = Loaded("ON", 0, &MakeScripted);
    EXPECT_EQ(Query(observer.Get()), test.answer);
    EXPECT_EQ(g_seen.window, test.window);
    EXPECT_EQ(g_seen.pendingAsked, test.pendingAsked);
    EXPECT_EQ(g_seen.alive, 0);
    ExpectReleased(observer);
  }
}

TEST_F(PendingJobsObserverTest, RaisedFailureInDetectionIsNoObjection) {
  const struct {
    Script::Raise raise;
    std::string line;
  } cases[] = {
      {Script::Raise::kHResult,
       "[T] INFO: Catching and handling HRESULT exception "
       ".\\PendingJobsPowerDownObserver:"},
      {Script::Raise::kOutOfMemory,
       "[T] WARNING: Caught and handled general exception "
       ".\\PendingJobsPowerDownObserver:"},
  };
  Load(kIdle);
  for (const auto& test : cases) {
    g_script.raise = test.raise;
    ComPtr<IPowerDownObserver> observer = Loaded("ON", 0, &MakeScripted);
    LogCapture::Clear();
    EXPECT_EQ(Query(observer.Get()), kNoObjection);
    EXPECT_EQ(g_seen.alive, 0);
    const Lines lines = LogCapture::Messages();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind(test.line, 0), 0u) << lines[0];
    ExpectReleased(observer);
  }
}

TEST_F(PendingJobsObserverTest, WindowMissingFromTheKey) {
  const struct {
    const char* name;
    bool valueStored;
    DWORD flags;
    DWORD window;
  } cases[] = {
      {"stored", true, 0, 30},
      {"missing value clears it", false, 0, 0},
      {"missing value, host keeps defaults", false, 0x10, 30},
  };
  Load(kIdle);
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    registry_.SetDword(kSettings, "PendingSMSJobWindowMins", 30);
    ComPtr<IPowerDownObserver> observer = Loaded("ON", 0, &MakeScripted);
    if (!test.valueStored) {
      registry_.DeleteValue(kSettings, "PendingSMSJobWindowMins");
    }
    EXPECT_EQ(S_OK, observer->LoadSettings(test.flags));
    Query(observer.Get());
    EXPECT_EQ(g_seen.window, test.window);
    ExpectReleased(observer);
  }
}

TEST_F(PendingJobsObserverTest, StateListsAreReadAgainForEveryQuestion) {
  Load(kIdle);
  ComPtr<IPowerDownObserver> observer = Loaded("ON", 0, &MakeScripted);
  registry_.SetString(kSettings, "AllowedShutdownJobStates", "Held");
  registry_.SetString(kPolicy, "AllowedShutdownUpdateStates", "Installing");
  Query(observer.Get());
  EXPECT_EQ(g_seen.jobStates, L"Held");
  EXPECT_EQ(g_seen.updateStates, L"Installing");
  ExpectReleased(observer);
}

// A policy value is never copied into the normal key: once the policy is
// withdrawn, the built-in default is written back and takes effect.
TEST_F(PendingJobsObserverTest, WithdrawnPolicyTakesEffect) {
  Load(kRunningDeployment);
  registry_.SetString(kPolicy, "MonitorJobs", "ON");
  registry_.SetString(kPolicy, "AllowedShutdownJobStates", "Running");
  ComPtr<IPowerDownObserver> observer = Create();
  EXPECT_EQ(S_OK, observer->LoadSettings(0));
  EXPECT_EQ(Query(observer.Get()), kNoObjection);  // "Running" is ignored
  EXPECT_EQ(registry_.ReadString(kSettings, "MonitorJobs"), std::nullopt);

  registry_.DeleteValue(kPolicy, "AllowedShutdownJobStates");
  EXPECT_EQ(Query(observer.Get()), kJobsInProgress);
  EXPECT_EQ(registry_.ReadString(kSettings, "AllowedShutdownJobStates"), "");

  registry_.DeleteValue(kPolicy, "MonitorJobs");
  EXPECT_EQ(S_OK, observer->LoadSettings(0));
  EXPECT_EQ(registry_.ReadString(kSettings, "MonitorJobs"), "OFF");
  EXPECT_EQ(Query(observer.Get()), kNoObjection);

  // A value of the normal key is written back as it stands.
  registry_.SetString(kSettings, "MonitorJobs", "on");
  EXPECT_EQ(S_OK, observer->LoadSettings(0));
  registry_.DeleteValue(kSettings, "MonitorJobs");
  EXPECT_EQ(S_OK, observer->LoadSettings(0));
  EXPECT_EQ(registry_.ReadString(kSettings, "MonitorJobs"), "on");
  ExpectReleased(observer);
}

TEST_F(PendingJobsObserverTest, LogStatusOnlyWhenVerbose) {
  Load(kIdle);
  registry_.SetDword(kSettings, "PendingSMSJobWindowMins", 30);
  ComPtr<IPowerDownObserver> observer = Loaded("On");
  DebugFlags.store(0);
  EXPECT_EQ(S_OK, observer->LogStatus());
  EXPECT_TRUE(LogCapture::Messages().empty());
  EXPECT_EQ(Sim().CallCount(SimMethod::kCreateLocator), 0);

  DebugFlags.store(debug_flags::kVerbose);
  LogCapture::Clear();
  EXPECT_EQ(S_OK, observer->LogStatus());
  EXPECT_EQ(LogCapture::Messages(),
            (Lines{"[T]: Connecting to \\\\.\\root\\ccm\n",
                   "[T]: PowerDown Observer Name = Pending (or) running jobs "
                   "power down observer.\n",
                   "Management Client exists = YES.\n", "Monitor Job = On.\n",
                   "Pending Job Window Minutes. = 30\n"}));
  ExpectReleased(observer);
}

}  // namespace
