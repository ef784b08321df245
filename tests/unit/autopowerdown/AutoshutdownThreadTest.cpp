#include "autopowerdown/AutoshutdownThread.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <numeric>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "autopowerdown/PowerStateChangeHandler.h"
#include "autopowerdown/StoppableThread.h"
#include "common/DecisionRecord.h"
#include "common/DecisionStore.h"
#include "tests/unit/autopowerdown/AutoPowerdownFixture.h"

using NTarn::DebugFlags;

namespace {

using Microsoft::WRL::ComPtr;
using vpltest::AttemptText;
using vpltest::Lines;
using vpltest::LogCapture;
using Answer = vpltest::FakeTimeSinceLastInputProvider::Answer;
// Per request: the input calls made until then, and its power-down type.
using Requests = std::vector<std::pair<int, int>>;

constexpr char kKickOff[] =
    "[T]: Kicking off the SMS\\CMgr auto power down thread to monitor the "
    "CM/SMS Client policy evaluator\n";
constexpr char kFiled[] = "[T]: Filed to kick off auto power down request\n";
constexpr Answer kIdle{S_OK, 24 * 60 * 60 * 1000};

class AutoshutdownThreadTest : public vpltest::AutoPowerdownFixture {
 protected:
  void SetUp() override {
    ASSERT_EQ(S_OK, thread_->Initialize());
    thread_->SetTimeSinceLastInputProvider(host_.timeSinceLastInput);
    thread_->SetPowerDownProvider(host_.powerDownProvider);
    thread_->SetDecisionRecord(record_);
    settings_.SetDword("RetryInterval", 600);
    detector_.refreshFromMinute = 1;
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
  void Start(vpltest::FakeJobsDetector* detector) {
    ASSERT_EQ(S_OK, thread_->ReserveStart());
    // The test owns its detectors: the thread gets a share that owns nothing.
    ASSERT_EQ(S_OK, thread_->StartReserved(std::shared_ptr<ISMSJobsDetector>(
                        std::shared_ptr<void>(), detector)));
  }
  void StartAndWaitForRequest() {
    Start(&detector_);
    WaitFor(requested_);
  }
  Requests TakeRequests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(requests_, {});
  }
  // "<answer>|<ground>|<window>" of the newest entry the runs recorded.
  std::string LastRecorded() {
    record_->Flush();
    NTarn::ScopedRegKey decisions;
    ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, NTarn::decision_store::kDecisionsKey, 0,
                    KEY_READ, decisions.Receive());
    const std::vector<NTarn::DecisionEntry> entries =
        NTarn::ReadDecisionEntries(decisions.Get());
    if (entries.empty()) return "none";
    const NTarn::DecisionEntry& entry = entries.back();
    return entry.question + "|" + entry.answer + "|" + entry.ground + "|" +
           std::to_string(entry.pendingWindowMinutes.value_or(99));
  }
  void AttachHandler() {
    NTarn::ComObject<PowerStateChangeHandler>* created = nullptr;
    ASSERT_EQ(S_OK, NTarn::ComObject<PowerStateChangeHandler>::CreateInstance(
                        &created));
    handler_ = created;
    ASSERT_EQ(S_OK, handler_->AttachThread(thread_));
  }

  vpltest::FakeJobsDetector detector_;
  const std::shared_ptr<NTarn::DecisionRecord> record_ =
      NTarn::DecisionRecord::ForThisProcess();
  std::shared_ptr<AutoshutdownThread> thread_ =
      std::make_shared<AutoshutdownThread>(FastTiming());
  ComPtr<PowerStateChangeHandler> handler_;
  NTarn::ScopedHandle requested_ = NewEvent();
  std::mutex mutex_;
  Requests requests_;
};

TEST_F(AutoshutdownThreadTest, PolicyWaitEndsByInputStopOrItsCountDown) {
  // inputCallsAtRequest 0: no request; lines are checked unless empty.
  // clang-format off
  const struct { const char* name; std::vector<Answer> input; int refreshFromMinute, raiseAtMinute, stopAtMinute; bool verbose; int lastAskedMinute, inputCallsAtRequest; Lines lines; const char* recorded; } cases[] = {
      {"InputInMinute5", {kIdle, kIdle, kIdle, kIdle, {S_OK, 59999}}, 0, 0, 0, false, 4, 0,
       {kKickOff, "[T]: Autopowerdown thread: user input detected whilst checking job status; cancelling...\n"},
       "cancelled by user input|userInputWhileWaiting"},
      {"NoRefresh", {}, 0, 0, 0, false, 12, 25, {kKickOff, kFiled}, "power-down requested|attemptsExhausted"},
      {"RefreshInMinute3", {}, 3, 0, 0, false, 3, 16, {kKickOff, kFiled}, "power-down requested|attemptsExhausted"},
      {"RaisingQuestionIsNoRefresh", {}, 0, 3, 0, false, 12, 25, {}, "power-down requested|attemptsExhausted"},
      {"StopInMinute2", {}, 0, 0, 2, false, 2, 0, {kKickOff}, "stopped|stoppedWhileWaiting"},
      {"IdleTimeUnknown", {kIdle, {E_FAIL, 0}}, 0, 0, 0, false, 2, 0, {kKickOff}, "failed|idleTimeUnavailable"},
      // The display state is chosen once: clearing the switch in minute 1
      // does not change it.
      {"Verbose", {kIdle, kIdle, {S_OK, 10}}, 0, 0, 0, true, 2, 0, {}, "cancelled by user input|userInputWhileWaiting"},
  };
  // clang-format on
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
    DebugFlags.store(test.verbose ? NTarn::debug_flags::kVerbose : 0);
    LogCapture::Clear();

    Start(&detector);
    thread_->Join();

    std::vector<int> asked(test.lastAskedMinute);
    std::iota(asked.begin(), asked.end(), 1);
    EXPECT_EQ(asked, detector.Calls());
    EXPECT_EQ(
        (test.inputCallsAtRequest ? Requests{{test.inputCallsAtRequest, 1}}
                                  : Requests{}),
        TakeRequests());
    if (!test.lines.empty()) {
      EXPECT_EQ(test.lines, LogCapture::Messages());
    }
    // Awake minute by minute; at the end the requirement is ended, not left.
    const std::vector<EXECUTION_STATE> states = TakeExecutionStates();
    ASSERT_LT(1u, states.size());
    EXPECT_EQ(ES_CONTINUOUS, states.back());
    const std::vector<EXECUTION_STATE> awake(
        states.size() - 1, test.verbose ? 0x80000003u : 0x80000001u);
    EXPECT_EQ(awake, decltype(awake)(states.begin(), states.end() - 1));
    EXPECT_EQ(std::string("auto power-down|") + test.recorded + "|0",
              LastRecorded());
  }
  EXPECT_EQ(0, Withdrawals());
}

TEST_F(AutoshutdownThreadTest, RetriesRunOnTheTimerUntilTheyEnd) {
  std::vector<Answer> userBackAtRetry(14, kIdle);  // 13 minutes, the request
  userBackAtRetry.push_back({S_OK, 5 * 60000});
  // The one attempt and the last retry are under way, not withdrawn.
  // clang-format off
  const struct { const char* name; DWORD retryAttempts, retryInterval; std::vector<Answer> input; int requests, withdrawals; Lines events; const char* line; const char* recorded; } cases[] = {
      {"SingleAttempt", 0, 15, {kIdle}, 1, 0, {AttemptText(0)}, kFiled, "power-down requested|attemptsExhausted"},
      {"TwoRetries", 2, 15, {kIdle}, 3, 0, {AttemptText(0), AttemptText(1), AttemptText(2)}, nullptr, "power-down requested|attemptsExhausted"},
      {"UserBackBeforeRetry", 3, 10, userBackAtRetry, 1, 1, {AttemptText(0)},
       "[T]: Autopowerdown thread: user input detected whilst in a power down retry; bailing...\n", "cancelled by user input|userInputAtRetry"},
  };
  // clang-format on
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    settings_.SetDword("RetryAttempts", test.retryAttempts);
    settings_.SetDword("RetryInterval", test.retryInterval);
    host_.timeSinceLastInput->Script(test.input);
    LogCapture::Clear();
    const int withdrawn = Withdrawals();

    Start(&detector_);
    thread_->Join();

    EXPECT_EQ(test.requests, static_cast<int>(TakeRequests().size()));
    EXPECT_EQ(test.withdrawals, Withdrawals() - withdrawn);
    EXPECT_EQ(test.events, vpltest::EventLogCapture::Texts());
    if (test.line) {
      EXPECT_EQ(1, Count(test.line));
    }
    EXPECT_EQ(std::string("auto power-down|") + test.recorded + "|0",
              LastRecorded());
  }
}

TEST_F(AutoshutdownThreadTest, PowerStateStopsTheRunAndHandsOverTheType) {
  // clang-format off
  const struct { bool running; std::vector<LONG> codes; int nextPowerDownType; } cases[] = {{true, {3, 5}, 5}, {true, {4, 5, 5}, 4}, {false, {5}, 1}};
  // clang-format on
  settings_.SetDword("RetryAttempts", 1);
  for (const auto& test : cases) {
    SCOPED_TRACE(test.nextPowerDownType);
    AttachHandler();
    const int withdrawn = Withdrawals();
    if (test.running) {
      ASSERT_NO_FATAL_FAILURE(StartAndWaitForRequest());
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

    ASSERT_NO_FATAL_FAILURE(StartAndWaitForRequest());
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
  Start(&detector_);
  thread_->Join();
  EXPECT_EQ(S_OK, reported);
  EXPECT_EQ(5, thread_->PowerDownType());
  EXPECT_EQ(1, Withdrawals());
}

class TestThread final : public StoppableThread {
 public:
  explicit TestThread(bool waitForStop)
      : StoppableThread("TestThread"), m_waitForStop(waitForStop) {}
  ~TestThread() override { StopAndJoin(); }
  unsigned Run() override {
    if (m_waitForStop) ::WaitForSingleObject(StopEvent(), INFINITE);
    return 0;
  }
  const bool m_waitForStop;
};

TEST(ThreadTest, EachStartAndEachJoinOfARunningThreadIsLoggedOnce) {
  vpltest::DebugFlagsScope flags(0x40);
  TestThread stopped(/*waitForStop=*/true);
  ASSERT_EQ(S_OK, stopped.Initialize());
  ASSERT_EQ(S_OK, stopped.Start());
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_SERVICE_ALREADY_RUNNING), stopped.Start());
  // Controllers joining at once share the handle; one logs the end.
  std::thread first([&stopped] { stopped.Join(); });
  std::thread second([&stopped] { stopped.Join(); });
  stopped.StopAndJoin();
  first.join();
  second.join();
  EXPECT_FALSE(stopped.IsRunning(0));

  // A body that returns by itself reads as not running; its join logs
  // nothing, and the object starts again.
  TestThread ended(/*waitForStop=*/false);
  ASSERT_EQ(S_OK, ended.Initialize());
  for (int run = 0; run < 2; ++run) {
    ASSERT_EQ(S_OK, ended.Start());
    EXPECT_FALSE(ended.IsRunning(INFINITE));
    ended.Join();
  }
  Lines kinds;  // the last word of each of the thread's lines
  for (const std::string& line : LogCapture::Messages())
    if (line.rfind("[T]: Thread Name='TestThread', Handle=", 0) == 0)
      kinds.push_back(line.substr(line.rfind(' ') + 1));
  EXPECT_EQ((Lines{"started\n", "ended\n", "started\n", "started\n"}), kinds);
}

}  // namespace
