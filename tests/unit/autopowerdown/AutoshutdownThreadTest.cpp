#include "autopowerdown/AutoshutdownThread.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "autopowerdown/PowerStateChangeHandler.h"
#include "common/ScopedHandle.h"
#include "tests/unit/autopowerdown/AutoPowerdownFixture.h"
#include "tests/unit/autopowerdown/FakeJobsDetector.h"

using NTarn::DebugFlags;
namespace debug_flags = NTarn::debug_flags;

namespace {

using Microsoft::WRL::ComPtr;
using vpltest::AttemptText;
using vpltest::EventLogCapture;
using vpltest::LogCapture;
using Answer = vpltest::FakeTimeSinceLastInputProvider::Answer;
using Lines = std::vector<std::string>;

constexpr char kKickOff[] =
    "[T]: Kicking off the SMS\\CMgr auto power down thread to monitor the "
    "CM/SMS Client policy evaluator\n";
constexpr char kFiled[] = "[T]: Filed to kick off auto power down request\n";
constexpr char kInputAtRetryLine[] =
    "[T]: Autopowerdown thread: user input detected whilst in a power down "
    "retry; bailing...\n";
constexpr char kInputLine[] =
    "[T]: Autopowerdown thread: user input detected whilst checking job "
    "status; cancelling...\n";
constexpr Answer kIdle{S_OK, 24 * 60 * 60 * 1000};

std::vector<int> Minutes(int first, int last) {
  std::vector<int> minutes;
  for (int minute = first; minute <= last; ++minute) minutes.push_back(minute);
  return minutes;
}

class AutoshutdownThreadTest : public vpltest::AutoPowerdownFixture {
 protected:
  void SetUp() override {
    thread_ = std::make_shared<AutoshutdownThread>(FastTiming());
    ASSERT_EQ(S_OK, thread_->Initialize());
    thread_->SetTimeSinceLastInputProvider(host_.timeSinceLastInput);
    thread_->SetPowerDownProvider(host_.powerDownProvider);
    settings_.SetDword("RetryInterval", 600);
    detector_.refreshFromMinute = 1;
    // Records the input calls made by each request, and its type.
    host_.powerDownProvider->OnRequest([this](IPowerDownContext* context) {
      int type = 0;
      context->GetPowerDownType(&type);
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back({host_.timeSinceLastInput->CallCount(), type});
      ::SetEvent(requested_.Get());
    });
  }
  void TearDown() override {
    thread_->StopAndJoin();
    EXPECT_FALSE(thread_->IsRunning(0));
    thread_.reset();
    handler_.Reset();
    vpltest::AutoPowerdownFixture::TearDown();
  }
  void Start(vpltest::FakeJobsDetector* detector = nullptr) {
    ASSERT_EQ(S_OK, thread_->ReserveStart());
    ASSERT_EQ(S_OK, thread_->StartReserved(detector ? detector : &detector_));
  }
  void WaitForRequest() {
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(requested_.Get(), 10000));
  }
  std::vector<std::pair<int, int>> TakeRequests() {
    std::vector<std::pair<int, int>> taken;
    std::lock_guard<std::mutex> lock(mutex_);
    taken.swap(requests_);
    return taken;
  }
  void AttachHandler() {
    ComObject<PowerStateChangeHandler>* created = nullptr;
    ASSERT_EQ(S_OK,
              ComObject<PowerStateChangeHandler>::CreateInstance(&created));
    handler_ = created;
    ASSERT_EQ(S_OK, handler_->AttachThread(thread_));
  }
  int Withdrawals() { return host_.powerDownProvider->CallCount(11); }

  vpltest::FakeJobsDetector detector_;
  std::shared_ptr<AutoshutdownThread> thread_;
  ComPtr<PowerStateChangeHandler> handler_;
  NTarn::ScopedHandle requested_{
      ::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
  std::mutex mutex_;
  std::vector<std::pair<int, int>> requests_;
};

TEST_F(AutoshutdownThreadTest, PolicyWaitEndsByInputStopOrItsCountDown) {
  const struct {
    const char* name;
    std::vector<Answer> input;
    int refreshFromMinute, raiseAtMinute, stopAtMinute;
    bool verbose;
    std::vector<int> askedMinutes;
    int inputCallsAtRequest;  // 0: no request
    Lines lines;              // checked unless empty
  } cases[] = {
      // clang-format off
      {"InputInMinute5", {kIdle, kIdle, kIdle, kIdle, {S_OK, 59999}}, 0, 0, 0, false, Minutes(1, 4), 0, {kKickOff, kInputLine}},
      {"NoRefresh", {}, 0, 0, 0, false, Minutes(1, 12), 25, {kKickOff, kFiled}},
      {"RefreshInMinute3", {}, 3, 0, 0, false, Minutes(1, 3), 16, {kKickOff, kFiled}},
      {"RaisingQuestionIsNoRefresh", {}, 0, 3, 0, false, Minutes(1, 12), 25, {}},
      {"StopInMinute2", {}, 0, 0, 2, false, Minutes(1, 2), 0, {kKickOff}},
      // The display state is chosen once: clearing the switch in minute 1
      // does not change it.
      {"Verbose", {kIdle, kIdle, {S_OK, 10}}, 0, 0, 0, true, Minutes(1, 2), 0, {}},
      // clang-format on
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    vpltest::FakeJobsDetector detector;
    detector.refreshFromMinute = test.refreshFromMinute;
    detector.raiseAtMinute = test.raiseAtMinute;
    detector.onAsked = [&](int minute) {
      DebugFlags.store(0);
      if (minute == test.stopAtMinute) thread_->RequestStop();
    };
    host_.timeSinceLastInput =
        vpltest::MakeFake<vpltest::FakeTimeSinceLastInputProvider>();
    host_.timeSinceLastInput->Script(test.input);
    thread_->SetTimeSinceLastInputProvider(host_.timeSinceLastInput);
    DebugFlags.store(test.verbose ? debug_flags::kVerbose : 0);
    LogCapture::Clear();

    Start(&detector);
    thread_->Join();

    EXPECT_EQ(test.askedMinutes, detector.Calls());
    // The input calls made when the request was made, and its type.
    using Requests = std::vector<std::pair<int, int>>;
    const Requests expected = test.inputCallsAtRequest
                                  ? Requests{{test.inputCallsAtRequest, 1}}
                                  : Requests{};
    EXPECT_EQ(expected, TakeRequests());
    if (!test.lines.empty()) {
      EXPECT_EQ(test.lines, LogCapture::Messages());
    }
    // Awake minute by minute; at the end the requirement is ended, not left.
    std::vector<EXECUTION_STATE> states = TakeExecutionStates();
    ASSERT_LT(1u, states.size());
    EXPECT_EQ(ES_CONTINUOUS, states.back());
    states.pop_back();
    for (EXECUTION_STATE state : states)
      EXPECT_EQ(test.verbose ? 0x80000003u : 0x80000001u, state);
  }
  EXPECT_EQ(0, Withdrawals());
}

TEST_F(AutoshutdownThreadTest, RetriesRunOnTheTimerUntilTheyEnd) {
  std::vector<Answer> userBackAtRetry(14, kIdle);  // 13 minutes, the request
  userBackAtRetry.push_back({S_OK, 5 * 60000});
  const struct {
    const char* name;
    DWORD retryAttempts, retryInterval;
    std::vector<Answer> input;
    int requests, withdrawals;
    Lines events;
    const char* line;
  } cases[] = {
      // The one attempt and the last retry are under way, not withdrawn.
      // clang-format off
      {"SingleAttempt", 0, 15, {kIdle}, 1, 0, {AttemptText(0)}, kFiled},
      {"TwoRetries", 2, 15, {kIdle}, 3, 0, {AttemptText(0), AttemptText(1), AttemptText(2)}, nullptr},
      {"UserBackBeforeRetry", 3, 10, userBackAtRetry, 1, 1, {AttemptText(0)}, kInputAtRetryLine},
      // clang-format on
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    settings_.SetDword("RetryAttempts", test.retryAttempts);
    settings_.SetDword("RetryInterval", test.retryInterval);
    host_.timeSinceLastInput->Script(test.input);
    LogCapture::Clear();
    const int withdrawn = Withdrawals();

    Start();
    thread_->Join();

    EXPECT_EQ(test.requests, static_cast<int>(TakeRequests().size()));
    EXPECT_EQ(test.withdrawals, Withdrawals() - withdrawn);
    EXPECT_EQ(test.events, EventLogCapture::Texts());
    if (test.line) {
      EXPECT_EQ(1, Count(test.line));
    }
  }
}

TEST_F(AutoshutdownThreadTest, PowerStateStopsTheRunAndHandsOverTheType) {
  const struct {
    bool running;
    std::vector<LONG> codes;
    int nextPowerDownType;
  } cases[] = {{true, {3, 5}, 5}, {true, {4, 5, 5}, 4}, {false, {5}, 1}};
  settings_.SetDword("RetryAttempts", 1);
  for (const auto& test : cases) {
    SCOPED_TRACE(test.nextPowerDownType);
    AttachHandler();
    const int withdrawn = Withdrawals();
    if (test.running) {
      Start();
      WaitForRequest();
    }
    LogCapture::Clear();
    for (LONG code : test.codes)
      EXPECT_EQ(S_OK, handler_->OnPowerStateChange(code));
    EXPECT_EQ(
        test.running ? 1 : 0,
        Count("[T]: Auto power down thread was running; cancelling...\n"));
    EXPECT_FALSE(thread_->IsRunning(0));
    // A run stopped while it waits for its retry withdraws its request.
    EXPECT_EQ(withdrawn + (test.running ? 1 : 0), Withdrawals());

    Start();
    WaitForRequest();
    EXPECT_EQ(test.nextPowerDownType, TakeRequests().back().second);
    thread_->StopAndJoin();
    thread_->StopAndSetPowerDownType(1);
  }
}

// The host reports the power state from inside the worker's own request.
TEST_F(AutoshutdownThreadTest, PowerStateOnTheWorkersThreadStopsWithoutJoin) {
  settings_.SetDword("RetryAttempts", 1);
  AttachHandler();
  HRESULT reported = E_FAIL;
  host_.powerDownProvider->OnRequest([&](IPowerDownContext*) {
    handler_->OnPowerStateChange(3);
    reported = handler_->OnPowerStateChange(5);
  });
  Start();
  thread_->Join();
  EXPECT_EQ(S_OK, reported);
  EXPECT_EQ(5, thread_->PowerDownType());
  EXPECT_EQ(1, Withdrawals());
}

}  // namespace
