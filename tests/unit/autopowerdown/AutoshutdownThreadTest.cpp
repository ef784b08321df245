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

namespace {

using Microsoft::WRL::ComPtr;
using vpltest::EventLogCapture;
using vpltest::kIdleForADay;
using vpltest::LogCapture;
using Answer = vpltest::FakeTimeSinceLastInputProvider::Answer;
using Lines = std::vector<std::string>;

constexpr char kKickOff[] =
    "[T]: Kicking off the SMS\\CMgr auto power down thread to monitor the "
    "CM/SMS Client policy evaluator\n";
constexpr char kInputWhileChecking[] =
    "[T]: Autopowerdown thread: user input detected whilst checking job "
    "status; cancelling...\n";
constexpr char kFiled[] = "[T]: Filed to kick off auto power down request\n";
constexpr char kInputAtRetry[] =
    "[T]: Autopowerdown thread: user input detected whilst in a power down "
    "retry; bailing...\n";
constexpr char kWasRunning[] =
    "[T]: Auto power down thread was running; cancelling...\n";
constexpr Answer kIdle{S_OK, kIdleForADay};

std::vector<int> Minutes(int first, int last) {
  std::vector<int> minutes;
  for (int minute = first; minute <= last; ++minute) minutes.push_back(minute);
  return minutes;
}

std::string AttemptText(int retry) {
  return "Initiated auto power down request (retry=" + std::to_string(retry) +
         ")";
}

int Count(const std::string& line) {
  int count = 0;
  for (const std::string& message : LogCapture::Messages())
    count += message == line;
  return count;
}

class AutoshutdownThreadTest : public vpltest::AutoPowerdownFixture {
 protected:
  void SetUp() override {
    thread_ = std::make_shared<AutoshutdownThread>(FastTiming());
    ASSERT_EQ(S_OK, thread_->Initialize());
    thread_->SetTimeSinceLastInputProvider(host_.timeSinceLastInput);
    thread_->SetPowerDownProvider(host_.powerDownProvider);
    settings_.SetString("LogOffAction", "FORCE");
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
  void Start() {
    ASSERT_EQ(S_OK, thread_->ReserveStart());
    ASSERT_EQ(S_OK, thread_->StartReserved(&detector_));
  }
  void WaitForRequest() {
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(requested_.Get(), 10000));
  }
  void AttachHandler() {
    ComObject<PowerStateChangeHandler>* created = nullptr;
    ASSERT_EQ(S_OK,
              ComObject<PowerStateChangeHandler>::CreateInstance(&created));
    handler_ = created;
    ASSERT_EQ(S_OK, handler_->AttachThread(thread_));
  }
  // Input calls made when each request was made, and its power-down type.
  struct Request {
    int inputCalls;
    int powerDownType;
    bool operator==(const Request& other) const {
      return inputCalls == other.inputCalls &&
             powerDownType == other.powerDownType;
    }
  };
  std::vector<Request> Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  int Withdrawals() { return host_.powerDownProvider->CallCount(11); }

  vpltest::FakeJobsDetector detector_;
  std::shared_ptr<AutoshutdownThread> thread_;
  ComPtr<PowerStateChangeHandler> handler_;
  NTarn::ScopedHandle requested_{
      ::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
  std::mutex mutex_;
  std::vector<Request> requests_;
};

struct PolicyWaitCase {
  const char* name;
  std::vector<Answer> input;
  int refreshFromMinute;
  int raiseAtMinute;
  int stopAtMinute;
  std::vector<int> askedMinutes;
  int inputCallsAtRequest;  // 0: no request
  Lines lines;              // checked unless empty
};

TEST_F(AutoshutdownThreadTest, PolicyWaitEndsByInputStopOrItsCountDown) {
  const PolicyWaitCase cases[] = {
      {"InputInMinute5",
       {kIdle, kIdle, kIdle, kIdle, {S_OK, 59999}},
       0,
       0,
       0,
       Minutes(1, 4),
       0,
       {kKickOff, kInputWhileChecking}},
      {"NoRefresh", {}, 0, 0, 0, Minutes(1, 12), 25, {kKickOff, kFiled}},
      {"RefreshInMinute3", {}, 3, 0, 0, Minutes(1, 3), 16, {kKickOff, kFiled}},
      {"RaisingQuestionIsNoRefresh", {}, 0, 3, 0, Minutes(1, 12), 25, {}},
      {"StopInMinute2", {}, 0, 0, 2, Minutes(1, 2), 0, {kKickOff}},
      {"InputUnknownInMinute2",
       {kIdle, {E_FAIL, 0}},
       3,
       0,
       0,
       Minutes(1, 2),
       0,
       {kKickOff}},
  };
  for (const PolicyWaitCase& test : cases) {
    SCOPED_TRACE(test.name);
    vpltest::FakeJobsDetector detector;
    detector.refreshFromMinute = test.refreshFromMinute;
    detector.raiseAtMinute = test.raiseAtMinute;
    detector.onAsked = [&](int minute) {
      if (minute == test.stopAtMinute) thread_->RequestStop();
    };
    host_.timeSinceLastInput =
        vpltest::MakeFake<vpltest::FakeTimeSinceLastInputProvider>();
    if (!test.input.empty()) host_.timeSinceLastInput->Script(test.input);
    thread_->SetTimeSinceLastInputProvider(host_.timeSinceLastInput);
    LogCapture::Clear();
    ExecutionStates(true);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.clear();
    }

    ASSERT_EQ(S_OK, thread_->ReserveStart());
    ASSERT_EQ(S_OK, thread_->StartReserved(&detector));
    thread_->Join();

    EXPECT_EQ(test.askedMinutes, detector.AskedMinutes());
    const std::vector<Request> expected =
        test.inputCallsAtRequest
            ? std::vector<Request>{{test.inputCallsAtRequest, 1}}
            : std::vector<Request>{};
    EXPECT_EQ(expected, Requests());
    if (!test.lines.empty()) {
      EXPECT_EQ(test.lines, LogCapture::Messages());
    }
    // The machine is kept awake minute by minute, and the requirement is
    // ended, not left on, when the wait is over.
    std::vector<EXECUTION_STATE> states = ExecutionStates();
    ASSERT_FALSE(states.empty());
    EXPECT_EQ(ES_CONTINUOUS, states.back());
    states.pop_back();
    for (EXECUTION_STATE state : states) EXPECT_EQ(0x80000001u, state);
  }
  EXPECT_EQ(0, Withdrawals());
}

TEST_F(AutoshutdownThreadTest, DisplayStateIsChosenOnceAtTheStart) {
  DebugFlags.store(debug_flags::kVerbose);
  detector_.onAsked = [](int) { DebugFlags.store(0); };
  host_.timeSinceLastInput->Script({kIdle, kIdle, {S_OK, 10}});
  Start();
  thread_->Join();
  EXPECT_EQ((std::vector<EXECUTION_STATE>{0x80000003, 0x80000003, 0x80000003,
                                          ES_CONTINUOUS}),
            ExecutionStates());
}

struct RetryCase {
  const char* name;
  DWORD retryAttempts;
  DWORD retryInterval;
  std::vector<Answer> input;
  size_t requests;
  int withdrawals;
  Lines events;
  const char* line;
  bool stateKeyLeft;
};

TEST_F(AutoshutdownThreadTest, RetriesRunOnTheTimerUntilTheyEnd) {
  std::vector<Answer> userBackAtRetry(14, kIdle);  // 13 minutes, the request
  userBackAtRetry.push_back({S_OK, 5 * 60000});
  const RetryCase cases[] = {
      // The one attempt and the last retry are under way, not withdrawn.
      {"SingleAttempt", 0, 15, {}, 1, 0, {AttemptText(0)}, kFiled, false},
      {"TwoRetries",
       2,
       15,
       {},
       3,
       0,
       {AttemptText(0), AttemptText(1), AttemptText(2)},
       nullptr,
       false},
      {"UserBackBeforeRetry",
       3,
       10,
       userBackAtRetry,
       1,
       1,
       {AttemptText(0)},
       kInputAtRetry,
       true},
  };
  detector_.refreshFromMinute = 1;
  for (const RetryCase& test : cases) {
    SCOPED_TRACE(test.name);
    settings_.SetDword("RetryAttempts", test.retryAttempts);
    settings_.SetDword("RetryInterval", test.retryInterval);
    host_.powerDownProvider =
        vpltest::MakeFake<vpltest::FakePowerDownProvider>();
    thread_->SetPowerDownProvider(host_.powerDownProvider);
    if (!test.input.empty()) host_.timeSinceLastInput->Script(test.input);
    const EventLogCapture events;
    LogCapture::Clear();

    Start();
    thread_->Join();

    EXPECT_EQ(static_cast<int>(test.requests),
              host_.powerDownProvider->CallCount(3));
    EXPECT_EQ(test.withdrawals, Withdrawals());
    EXPECT_EQ(test.events, EventLogCapture::Texts());
    if (test.line) {
      EXPECT_EQ(1, Count(test.line));
    }
    EXPECT_EQ(test.stateKeyLeft, StateKeyExists());
    host_.powerDownProvider->ReleaseHeld();
  }
}

struct PowerStateCase {
  const char* name;
  bool running;
  std::vector<LONG> codes;
  int stoppedLines;
  int nextPowerDownType;
};

TEST_F(AutoshutdownThreadTest, PowerStateStopsTheRunAndHandsOverTheType) {
  const PowerStateCase cases[] = {
      {"3Then5", true, {3, 5}, 1, 5},
      {"4Then5Then5", true, {4, 5, 5}, 1, 4},
      {"5WithoutRun", false, {5}, 0, 1},
  };
  settings_.SetDword("RetryAttempts", 1);
  settings_.SetDword("RetryInterval", 600);
  detector_.refreshFromMinute = 1;
  for (const PowerStateCase& test : cases) {
    SCOPED_TRACE(test.name);
    AttachHandler();
    const int withdrawn = Withdrawals();
    if (test.running) {
      Start();
      WaitForRequest();
    }
    LogCapture::Clear();
    for (LONG code : test.codes)
      EXPECT_EQ(S_OK, handler_->OnPowerStateChange(code));
    EXPECT_EQ(test.stoppedLines, Count(kWasRunning));
    EXPECT_FALSE(thread_->IsRunning(0));
    // A run stopped while it waits for its retry withdraws its request.
    EXPECT_EQ(withdrawn + test.stoppedLines, Withdrawals());

    Start();
    WaitForRequest();
    EXPECT_EQ(test.nextPowerDownType, Requests().back().powerDownType);
    thread_->StopAndJoin();
    thread_->StopAndSetPowerDownType(1);
  }
}

// The host reports the power state from inside the worker's own request.
TEST_F(AutoshutdownThreadTest, PowerStateOnTheWorkersThreadStopsWithoutJoin) {
  settings_.SetDword("RetryAttempts", 1);
  settings_.SetDword("RetryInterval", 600);
  detector_.refreshFromMinute = 1;
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
