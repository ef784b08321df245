// Host threads racing each other and the worker: nothing torn, nothing left
// behind (references, module lock, threads, handles).
#include <gtest/gtest.h>
#include <wrl/client.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "autopowerdown/AutoshutdownEvent.h"
#include "common/ScopedBstr.h"
#include "observer/PendingJobsPowerDownObserver.h"
#include "tests/simclient/SimulatedClient.h"
#include "tests/support/ProcessCounts.h"
#include "tests/support/SystemCapabilitiesScope.h"
#include "tests/unit/autopowerdown/AutoPowerdownFixture.h"

namespace {

using Microsoft::WRL::ComPtr;

constexpr int kHostThreads = 8;
// Reloads while eight threads ask: each question costs a WMI connection and
// registry reads, so a thousand reloads would take half a minute under Wine.
constexpr int kReloads = 300;
// Events against a stream of power-state changes; the worker's wait for the
// policy is cut to two steps so that it reaches its requests.
constexpr int kEvents = 200;

// Host threads in the multithreaded apartment, joined however the test ends.
struct Threads : std::vector<std::thread> {
  template <typename Function>
  void Start(Function function) {
    emplace_back([function] {
      ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      function();
      ::CoUninitialize();
    });
  }
  ~Threads() {
    for (std::thread& thread : *this) thread.join();
  }
};

// A detector that always finds a job due: the answer then shows the window.
struct DueDetector final : ISMSJobsDetector {
  DueDetector() : ISMSJobsDetector(L"") {}
  bool SMSJobsAreRunning() override { return false; }
  bool SMSPendingJobsFound() override { return true; }
  bool SMSJobsRunningOrPending() override { return true; }
  bool FoundRecentPolicyRefreshEvent(int) override { return false; }
};

class StressTest : public vpltest::AutoPowerdownFixture {
 protected:
  // Runs `race` with `warmUp` rounds, so that whatever the process sets up
  // on first use (a worker's first request opens the event log, say) is in
  // place, then with `rounds`; then the host lets go, and nothing may be
  // left that the first run did not leave.
  template <typename Race>
  void ExpectNothingLeftAfter(int warmUp, int rounds, Race race) {
    race(warmUp);
    host_.eventBroker->ReleaseHeld();
    host_.powerDownProvider->ReleaseHeld();
    const int threads = vpltest::ThreadCount();
    const int handles = vpltest::HandleCount();
    ASSERT_GT(threads, 0);
    ASSERT_GT(handles, 0);
    race(rounds);
    host_.eventBroker->ReleaseHeld();
    host_.powerDownProvider->ReleaseHeld();
    EXPECT_EQ(0, Module().GetLockCount());
    EXPECT_EQ(0, vpltest::SimulatedClient::LiveObjects());
    EXPECT_EQ(threads, vpltest::ThreadCount());
    // Wine's own background work now and then holds a handle more for a
    // while; a leak per question, reload or event would be hundreds.
    EXPECT_LE(vpltest::HandleCount(), handles + 2);
    TakeExecutionStates();  // the workers' states are no later test's
  }
};

// Settings A (monitoring on, 30 minutes) object with the 30-minute text and
// settings B (off, 45 minutes) do not object; a question that mixed the two
// would object with the 45-minute text.
TEST_F(StressTest, QuestionsWhileSettingsAreReloaded) {
  vpltest::SystemCapabilitiesScope desktop(
      false, vpltest::SystemCapabilitiesScope::Power::kAcWithBattery);
  ExpectNothingLeftAfter(1, kReloads, [this](int reloads) {
    vpltest::SimulatedClient sim(
        R"({"namespaces": {"root\\ccm": {"CCM_Client": {}}}})");
    NTarn::ComObject<PendingJobsPowerDownObserver>* created = nullptr;
    ASSERT_EQ(S_OK,
              NTarn::ComObject<PendingJobsPowerDownObserver>::CreateInstance(
                  &created, [](DWORD, wchar_t*, wchar_t*) {
                    return std::unique_ptr<ISMSJobsDetector>(
                        std::make_unique<DueDetector>());
                  }));
    ComPtr<IPowerDownObserver> observer = created;
    std::atomic<bool> reloading{true};
    std::atomic<int> torn{0};
    {
      Threads threads;
      threads.Start([&] {
        for (int round = 0; round < reloads; ++round) {
          const bool a = round % 2 == 0;
          settings_.SetString("MonitorJobs", a ? "ON" : "OFF");
          settings_.SetDword("PendingSMSJobWindowMins", a ? 30 : 45);
          observer->LoadSettings(0);
        }
        reloading = false;
      });
      for (int i = 0; i < kHostThreads; ++i) {
        threads.Start([&] {
          do {
            PowerDownResponse response = PowerDownResponse_NoObjection;
            NTarn::ScopedBstr reason;
            observer->QueryPowerDown(host_.serviceProvider.Get(), &response,
                                     reason.Receive());
            const std::wstring text = reason.Get() ? reason.Get() : L"";
            torn += response == PowerDownResponse_NoObjection
                        ? !text.empty()
                        : text != L"SMS\\CMgr jobs pending in 30 minutes";
          } while (reloading);
        });
      }
    }
    EXPECT_EQ(0, torn);
    EXPECT_EQ(0u, observer.Reset());
  });
}

// Auto-shutdown events and power-state changes from two host threads while
// the worker runs its sequence on the shortened clock: every accepted event
// starts exactly one worker, and releasing the handler ends it.
TEST_F(StressTest, AutoshutdownAndPowerStateRaceTheWorker) {
  settings_.SetDword("RetryAttempts", 2);
  settings_.SetDword("RetryInterval", 1);
  ExpectNothingLeftAfter(kEvents / 10, kEvents, [this](int events) {
    NTarn::ComObject<AutoshutdownEvent>* created = nullptr;
    AutoshutdownTiming timing = FastTiming();
    timing.policyWaitMinutes = 2;
    ASSERT_EQ(S_OK, NTarn::ComObject<AutoshutdownEvent>::CreateInstance(
                        &created, timing));
    ComPtr<AutoshutdownEvent> event = created;
    auto owned = std::make_unique<vpltest::FakeJobsDetector>();
    vpltest::FakeJobsDetector* detector = owned.get();
    detector->refreshFromMinute = 1;
    // The host answers every other request at once, from within the request.
    std::atomic<int> requests{0}, accepted{0}, refused{0}, failed{0};
    host_.powerDownProvider->OnRequest([&](IPowerDownContext* context) {
      if (++requests % 2) context->Complete();
    });
    ASSERT_EQ(S_OK,
              event->AttachHost(host_.serviceProvider.Get(), std::move(owned)));
    {
      Threads threads;
      std::atomic<bool> firing{true};
      threads.Start([&] {
        for (int round = 0; round < events; ++round) {
          const HRESULT hr = event->OnAutoshutdown();
          ++(hr == S_OK ? accepted
             : hr == HRESULT_FROM_WIN32(ERROR_SERVICE_ALREADY_RUNNING)
                 ? refused
                 : failed);
        }
        firing = false;
      });
      threads.Start([&] {
        for (LONG state = 0; firing; state = (state + 1) % 6)
          host_.eventBroker->FirePowerStateChange(state);
      });
    }
    EXPECT_EQ(0, failed);
    EXPECT_EQ(events, accepted + refused);
    EXPECT_GT(accepted, 0);
    // Only an accepted event initialises the detector.
    const std::vector<int> calls = detector->Calls();
    EXPECT_EQ(accepted, std::count(calls.begin(), calls.end(), 0));
    EXPECT_EQ(0u, event.Reset());  // stops and joins the worker
    host_.powerDownProvider->OnRequest(nullptr);
  });
}

}  // namespace
