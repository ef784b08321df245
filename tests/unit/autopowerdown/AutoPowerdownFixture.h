// What the auto power-down tests share: a machine hive of their own with the
// settings key, DebugFlags 0, captured log and event log, the host doubles, a
// timing that runs a minute in a millisecond, and at the end the checks that
// the host's doubles are referenced by the test alone and no plug-in object
// is left.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "autopowerdown/AutoshutdownTiming.h"
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

class AutoPowerdownFixture : public ::testing::Test {
 protected:
  AutoPowerdownFixture() { settings_.SetString("LogOffAction", "FORCE"); }
  void TearDown() override {
    host_.ReleaseHeld();
    EXPECT_TRUE(host_.OnlyTestReferencesRemain());
    EXPECT_EQ(0, Module().GetLockCount());
  }

  // A minute per millisecond; a retry minute of 20 ms keeps a retry later
  // than the 0.1 s the timer adds.
  static AutoshutdownTiming FastTiming() {
    AutoshutdownTiming timing;
    timing.minuteMilliseconds = 1;
    timing.retryTimerMinute = 200000;
    timing.setExecutionState = [](EXECUTION_STATE state) -> EXECUTION_STATE {
      std::lock_guard<std::mutex> lock(StateMutex());
      States().push_back(state);
      return ES_CONTINUOUS;
    };
    return timing;
  }
  // The states the worker asked for, in order, since the last call.
  static std::vector<EXECUTION_STATE> TakeExecutionStates() {
    std::vector<EXECUTION_STATE> taken;
    std::lock_guard<std::mutex> lock(StateMutex());
    taken.swap(States());
    return taken;
  }
  static ULONGLONG LastAttemptTime() {
    ULONGLONG value = 0;
    DWORD size = sizeof(value);
    ::RegGetValueA(HKEY_LOCAL_MACHINE, kStateKey, "LastPowerDownAttemptTime",
                   RRF_RT_QWORD, nullptr, &value, &size);
    return value;
  }
  static int Count(const std::string& line) {
    int count = 0;
    for (const std::string& logged : LogCapture::Messages())
      count += logged == line;
    return count;
  }

  ScratchLocalMachine hive_;
  TestRegistryKey settings_{"Software\\Tarn\\Vesperline"};
  DebugFlagsScope flags_{0};
  EventLogCapture events_;
  FakeHost host_;

 private:
  static std::mutex& StateMutex() {
    static std::mutex mutex;
    return mutex;
  }
  static std::vector<EXECUTION_STATE>& States() {
    static std::vector<EXECUTION_STATE> states;
    return states;
  }
};

}  // namespace vpltest
