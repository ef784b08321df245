#include "observer/PendingJobsPowerDownObserver.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <string>

#include "common/HResultException.h"
#include "common/Logging.h"
#include "common/ScopedBstr.h"
#include "tests/support/DebugFlagsScope.h"
#include "tests/support/HostDoubles.h"
#include "tests/support/ScratchLocalMachine.h"
#include "tests/support/SimClientFixture.h"
#include "tests/support/SystemCapabilitiesScope.h"

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
