#include "autopowerdown/AutoshutdownEvent.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <utility>

#include "common/HResultException.h"
#include "common/ScopedHandle.h"
#include "tests/unit/autopowerdown/AutoPowerdownFixture.h"
#include "tests/unit/autopowerdown/FakeJobsDetector.h"

namespace {

using Microsoft::WRL::ComPtr;
using vpltest::LogCapture;
using Lines = std::vector<std::string>;

constexpr HRESULT kAlreadyRunning =
    HRESULT_FROM_WIN32(ERROR_SERVICE_ALREADY_RUNNING);
constexpr char kAlreadyRunningLine[] =
    "[T]: Auto power down thread is already running; exiting...\n";

NTarn::ScopedHandle NewEvent() {
  return NTarn::ScopedHandle(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
}

class AutoshutdownEventTest : public vpltest::AutoPowerdownFixture {
 protected:
  void SetUp() override {
    ComObject<AutoshutdownEvent>* created = nullptr;
    ASSERT_EQ(S_OK, ComObject<AutoshutdownEvent>::CreateInstance(&created,
                                                                 FastTiming()));
    event_ = created;
    settings_.SetString("LogOffAction", "FORCE");
    settings_.SetDword("RetryAttempts", 1);
    settings_.SetDword("RetryInterval", 600);
    detector_->refreshFromMinute = 1;
    host_.powerDownProvider->OnRequest(
        [this](IPowerDownContext*) { ::SetEvent(requested_.Get()); });
  }
  void TearDown() override {
    // Destroying the handler stops and joins its thread.
    event_.Reset();
    vpltest::AutoPowerdownFixture::TearDown();
  }
  HRESULT Attach() {
    return event_->AttachHost(host_.serviceProvider.Get(), std::move(owned_));
  }
  void WaitFor(const NTarn::ScopedHandle& event) {
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(event.Get(), 10000));
  }

  ComPtr<AutoshutdownEvent> event_;
  std::unique_ptr<vpltest::FakeJobsDetector> owned_ =
      std::make_unique<vpltest::FakeJobsDetector>();
  // Owned by the handler once attached.
  vpltest::FakeJobsDetector* const detector_ = owned_.get();
  NTarn::ScopedHandle requested_ = NewEvent();
};

TEST_F(AutoshutdownEventTest, AttachHostNeedsEachHostService) {
  const struct {
    const GUID* service;
    const char* line;
  } cases[] = {
      {&SID_TimeSinceLastInputProvider,
       "[T]: Time since last user input provider has not been registered "
       "with the service provider; bailing...\n"},
      {&SID_PowerDownProvider,
       "[T]: Power down provider has not been registered with the service "
       "provider; bailing...\n"},
      {&SID_EventBroker,
       "[T]: Failed to query for event broker whilst initializing the CM\\SMS "
       "plugin.\n"},
  };
  for (const auto& test : cases) {
    ComObject<AutoshutdownEvent>* created = nullptr;
    ASSERT_EQ(S_OK, ComObject<AutoshutdownEvent>::CreateInstance(&created));
    const ComPtr<AutoshutdownEvent> handler(created);
    vpltest::FakeHost host;
    host.serviceProvider->Fail(*test.service, E_NOINTERFACE);
    LogCapture::Clear();
    EXPECT_EQ(
        E_NOINTERFACE,
        handler->AttachHost(host.serviceProvider.Get(),
                            std::make_unique<vpltest::FakeJobsDetector>()));
    EXPECT_EQ(Lines{test.line}, LogCapture::Messages());
    EXPECT_EQ(0, host.eventBroker->SubscriptionCount(EVENTID_PowerStateChange));
  }
  EXPECT_EQ(E_POINTER, event_->AttachHost(nullptr, nullptr));
  EXPECT_EQ(E_POINTER, event_->OnAutoshutdown());
  ASSERT_EQ(S_OK, Attach());
  EXPECT_EQ(1, host_.eventBroker->SubscriptionCount(EVENTID_PowerStateChange));
}

// A second event while the thread waits after a completed request is
// refused until the power state after the power-down stops the thread.
TEST_F(AutoshutdownEventTest, EventWhileRunningIsRefusedUntilStopped) {
  ASSERT_EQ(S_OK, Attach());
  ASSERT_EQ(S_OK, event_->OnAutoshutdown());
  WaitFor(requested_);
  host_.powerDownProvider->RequestedContexts().at(0)->Complete();
  LogCapture::Clear();
  EXPECT_EQ(kAlreadyRunning, event_->OnAutoshutdown());
  EXPECT_EQ(Lines{kAlreadyRunningLine}, LogCapture::Messages());

  EXPECT_EQ(S_OK, host_.eventBroker->FirePowerStateChange(5));
  // The completed request has no context left to withdraw.
  EXPECT_EQ(0, host_.powerDownProvider->CallCount(11));
  ASSERT_EQ(S_OK, event_->OnAutoshutdown());
  WaitFor(requested_);
  EXPECT_EQ(2, detector_->Inits());
}

TEST_F(AutoshutdownEventTest, TwoEventsAtOnceStartOneThread) {
  ASSERT_EQ(S_OK, Attach());
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
  EXPECT_EQ(1, detector_->Inits());
  WaitFor(requested_);
}

TEST_F(AutoshutdownEventTest, RaisedFailureStartsNoThread) {
  ASSERT_EQ(S_OK, Attach());
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
  ASSERT_EQ(S_OK, Attach());
  event_.Reset();
  EXPECT_EQ(E_POINTER, host_.eventBroker->FirePowerStateChange(5));
}

}  // namespace
