// What the auto power-down tests share: a machine hive of their own with the
// settings key, DebugFlags 0, captured logs, the host doubles, a minute per
// millisecond, a scripted job detector, and the end-of-test reference checks.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "autopowerdown/AutoshutdownTiming.h"
#include "common/HResultException.h"
#include "common/ScopedHandle.h"
#include "jobs/ISMSJobsDetector.h"
#include "plugin/Module.h"
#include "tests/support/DebugFlagsScope.h"
#include "tests/support/EventLogCapture.h"
#include "tests/support/HostDoubles.h"
#include "tests/support/ScratchLocalMachine.h"
#include "tests/support/TestRegistryKey.h"

namespace vpltest {

using Lines = std::vector<std::string>;
constexpr char kStateKey[] = "Software\\Tarn\\Vesperline\\AutoPowerDown";

inline std::string AttemptText(int retry) {
  return "Initiated auto power down request (retry=" + std::to_string(retry) +
         ")";
}

// Sees a policy refresh from `refreshFromMinute` on (0: never) and raises
// when asked about `raiseAtMinute`; records each minute asked, 0 for Init.
class FakeJobsDetector : public ISMSJobsDetector {
 public:
  FakeJobsDetector() : ISMSJobsDetector(L"") {}
  int refreshFromMinute = 0;
  int raiseAtMinute = 0;
  std::function<void(int minute)> onAsked;
  std::function<void()> onInit;
  // Expires when the detector is destroyed.
  std::shared_ptr<int> alive = std::make_shared<int>();

  HRESULT Init(DWORD window, wchar_t* jobs, wchar_t* updates) override {
    Record(0);
    if (onInit) onInit();
    return ISMSJobsDetector::Init(window, jobs, updates);
  }
  bool SMSJobsAreRunning() override { return false; }
  bool SMSPendingJobsFound() override { return false; }
  bool SMSJobsRunningOrPending() override { return false; }
  bool FoundRecentPolicyRefreshEvent(int minutes) override {
    Record(minutes);
    if (onAsked) onAsked(minutes);
    if (minutes == raiseAtMinute) NTarn::ThrowHResult(E_UNEXPECTED);
    return refreshFromMinute != 0 && minutes >= refreshFromMinute;
  }
  std::vector<int> Calls() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
  }

 private:
  void Record(int minute) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.push_back(minute);
  }
  mutable std::mutex m_mutex;
  std::vector<int> m_calls;
};

class AutoPowerdownFixture : public ::testing::Test {
 protected:
  AutoPowerdownFixture() { settings_.SetString("LogOffAction", "FORCE"); }
  void TearDown() override {
    host_.ReleaseHeld();
    EXPECT_TRUE(host_.OnlyTestReferencesRemain());
    EXPECT_EQ(0, Module().GetLockCount());
  }

  // A retry minute of 20 ms keeps a retry later than the 0.1 s the timer adds.
  static AutoshutdownTiming FastTiming() {
    AutoshutdownTiming timing;
    timing.minuteMilliseconds = 1;
    timing.retryTimerMinute = 200000;
    timing.setExecutionState = [](EXECUTION_STATE state) -> EXECUTION_STATE {
      std::lock_guard<std::mutex> lock(s_stateMutex);
      s_states.push_back(state);
      return ES_CONTINUOUS;
    };
    return timing;
  }
  // The states the worker asked for, in order, since the last call.
  static std::vector<EXECUTION_STATE> TakeExecutionStates() {
    std::lock_guard<std::mutex> lock(s_stateMutex);
    return std::exchange(s_states, {});
  }
  static ULONGLONG LastAttemptTime() {
    ULONGLONG value = 0;
    DWORD size = sizeof(value);
    ::RegGetValueA(HKEY_LOCAL_MACHINE, kStateKey, "LastPowerDownAttemptTime",
                   RRF_RT_QWORD, nullptr, &value, &size);
    return value;
  }
  static int Count(const std::string& line) {
    const Lines logged = LogCapture::Messages();
    return static_cast<int>(std::count(logged.begin(), logged.end(), line));
  }
  int Withdrawals() const { return host_.powerDownProvider->CallCount(11); }
  static NTarn::ScopedHandle NewEvent() {
    return NTarn::ScopedHandle(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  }
  static void WaitFor(const NTarn::ScopedHandle& event) {
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(event.Get(), 10000));
  }

  ScratchLocalMachine hive_;
  TestRegistryKey settings_{"Software\\Tarn\\Vesperline"};
  DebugFlagsScope flags_{0};
  EventLogCapture events_;
  FakeHost host_;

 private:
  static inline std::mutex s_stateMutex;
  static inline std::vector<EXECUTION_STATE> s_states;
};

}  // namespace vpltest
