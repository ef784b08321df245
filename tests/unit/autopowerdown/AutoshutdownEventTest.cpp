#include "autopowerdown/AutoshutdownEvent.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <thread>
#include <utility>

#include "tests/unit/autopowerdown/AutoPowerdownFixture.h"

namespace {

using Microsoft::WRL::ComPtr;
using vpltest::LogCapture;

constexpr HRESULT kAlreadyRunning =
    HRESULT_FROM_WIN32(ERROR_SERVICE_ALREADY_RUNNING);

class AutoshutdownEventTest : public vpltest::AutoPowerdownFixture {
 protected:
  void SetUp() override {
    NTarn::ComObject<AutoshutdownEvent>* created = nullptr;
    ASSERT_EQ(S_OK, NTarn::ComObject<AutoshutdownEvent>::CreateInstance(
                        &created, FastTiming()));
    event_ = created;
    settings_.SetDword("RetryAttempts", 1);
    settings_.SetDword("RetryInterval", 600);
    detector_->refreshFromMinute = 1;
    host_.powerDownProvider->OnRequest(
        [this](IPowerDownContext*) { ::SetEvent(requested_.Get()); });
    EXPECT_EQ(E_POINTER, event_->OnAutoshutdown());
    EXPECT_EQ(E_POINTER, event_->AttachHost(host_.serviceProvider.Get(), {}));
    ASSERT_EQ(S_OK, event_->AttachHost(host_.serviceProvider.Get(),
                                       std::move(owned_)));
  }
  void TearDown() override {
    event_.Reset();  // stops and joins its thread
    vpltest::AutoPowerdownFixture::TearDown();
  }
  long Inits() {
    const auto calls = detector_->Calls();
    return std::count(calls.begin(), calls.end(), 0);
  }

  ComPtr<AutoshutdownEvent> event_;
  std::unique_ptr<vpltest::FakeJobsDetector> owned_ =
      std::make_unique<vpltest::FakeJobsDetector>();
  vpltest::FakeJobsDetector* const detector_ = owned_.get();
  NTarn::ScopedHandle requested_ = NewEvent();
};

// A second event while the thread waits after a completed request is
// refused until the power state after the power-down stops the thread. Each
// event hands the worker's detector the maintenance-window switch.
TEST_F(AutoshutdownEventTest, EventWhileRunningIsRefusedUntilStopped) {
  settings_.SetString("MaintenanceWindows", "on");
  ASSERT_EQ(S_OK, event_->OnAutoshutdown());
  WaitFor(requested_);
  EXPECT_TRUE(detector_->MaintenanceWindows());
  settings_.SetString("MaintenanceWindows", "OFF");
  host_.powerDownProvider->RequestedContexts().at(0)->Complete();
  LogCapture::Clear();
  EXPECT_EQ(kAlreadyRunning, event_->OnAutoshutdown());
  EXPECT_EQ(1, Count("[T]: Auto power down thread is already running; "
                     "exiting...\n"));
  EXPECT_EQ(S_OK, host_.eventBroker->FirePowerStateChange(5));
  EXPECT_EQ(0, Withdrawals());  // the completed request has none to withdraw
  ASSERT_EQ(S_OK, event_->OnAutoshutdown());
  WaitFor(requested_);
  EXPECT_EQ(2, Inits());
  EXPECT_FALSE(detector_->MaintenanceWindows());
}

// The host lets go of the handler from inside a call the worker makes: the
// worker keeps its detector and the module locked until it has ended.
TEST_F(AutoshutdownEventTest, HostLettingGoInsideTheWorkersCallsEndsItSafely) {
  const LONG baseline = Module().GetLockCount();
  for (const int call : {0, 1, 2}) {  // input, request, withdrawal
    SCOPED_TRACE(call);
    NTarn::ComObject<AutoshutdownEvent>* created = nullptr;
    ASSERT_EQ(S_OK, NTarn::ComObject<AutoshutdownEvent>::CreateInstance(
                        &created, FastTiming()));
    ComPtr<AutoshutdownEvent> event = created;
    auto detector = std::make_unique<vpltest::FakeJobsDetector>();
    const std::weak_ptr<int> detectorAlive = detector->alive;
    ASSERT_EQ(S_OK, event->AttachHost(host_.serviceProvider.Get(),
                                      std::move(detector)));
    NTarn::ScopedHandle ready = NewEvent(), letGone = NewEvent(), worker;
    LONG locksInside = 0;
    bool detectorInside = false;
    const auto letGo = [&](int where) {
      if (where != call || worker) return;
      ::WaitForSingleObject(ready.Get(), 10000);
      worker.Reset(::OpenThread(SYNCHRONIZE, FALSE, ::GetCurrentThreadId()));
      event.Reset();
      host_.eventBroker->ReleaseHeld();
      locksInside = Module().GetLockCount();
      detectorInside = !detectorAlive.expired();
      ::SetEvent(letGone.Get());
    };
    host_.timeSinceLastInput->OnCall([&] { letGo(0); });
    host_.powerDownProvider->OnRequest([&](IPowerDownContext*) {
      ::SetEvent(requested_.Get());
      letGo(1);
    });
    host_.powerDownProvider->OnWithdraw([&](IPowerDownContext*) { letGo(2); });
    ::ResetEvent(requested_.Get());
    ASSERT_EQ(S_OK, event->OnAutoshutdown());
    ::SetEvent(ready.Get());
    if (call == 2) {
      WaitFor(requested_);
      EXPECT_EQ(S_OK, host_.eventBroker->FirePowerStateChange(5));
    }
    WaitFor(letGone);
    EXPECT_GT(locksInside, baseline);
    EXPECT_TRUE(detectorInside);
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(worker.Get(), 10000));
    host_.powerDownProvider->ReleaseHeld();  // the request and its context
    EXPECT_EQ(baseline, Module().GetLockCount());
    EXPECT_TRUE(detectorAlive.expired());
    host_.timeSinceLastInput->OnCall(nullptr);
    host_.powerDownProvider->OnRequest(nullptr);
    host_.powerDownProvider->OnWithdraw(nullptr);
  }
}

TEST_F(AutoshutdownEventTest, TwoEventsAtOnceStartOneThread) {
  NTarn::ScopedHandle inInit = NewEvent();
  NTarn::ScopedHandle release = NewEvent();
  detector_->onInit = [&] {
    ::SetEvent(inInit.Get());
    ::WaitForSingleObject(release.Get(), 10000);
  };
  HRESULT first = E_FAIL;
  std::thread host([&] { first = event_->OnAutoshutdown(); });
  WaitFor(inInit);
  EXPECT_EQ(kAlreadyRunning, event_->OnAutoshutdown());
  ::SetEvent(release.Get());
  host.join();
  EXPECT_EQ(S_OK, first);
  EXPECT_EQ(1, Inits());
  WaitFor(requested_);
}

TEST_F(AutoshutdownEventTest, RaisedFailureStartsNoThread) {
  detector_->onInit = [this] {
    detector_->onInit = nullptr;
    NTarn::ThrowHResult(E_UNEXPECTED);
  };
  EXPECT_EQ(E_UNEXPECTED, event_->OnAutoshutdown());
  EXPECT_FALSE(LogCapture::Contains("Kicking off"));
  // Nothing is left reserved: the next event starts the thread.
  ASSERT_EQ(S_OK, event_->OnAutoshutdown());
  WaitFor(requested_);
}

TEST_F(AutoshutdownEventTest, PowerStateAfterTheHandlerWentIsRefused) {
  event_.Reset();
  EXPECT_EQ(E_POINTER, host_.eventBroker->FirePowerStateChange(5));
}

}  // namespace
