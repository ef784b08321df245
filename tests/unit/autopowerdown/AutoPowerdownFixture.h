// What the auto power-down tests share: a machine hive of their own with the
// settings key, DebugFlags 0, captured log and event log, the host doubles,
// a timing that runs a minute in a millisecond, and at the end the checks
// that the host's doubles are referenced by the test alone and no plug-in
// object is left.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "autopowerdown/AutoshutdownTiming.h"
#include "plugin/Module.h"
#include "tests/support/DebugFlagsScope.h"
#include "tests/support/EventLogCapture.h"
#include "tests/support/HostDoubles.h"
#include "tests/support/LogCapture.h"
#include "tests/unit/registry/OverriddenMachineHive.h"
#include "tests/unit/registry/TestRegistryKey.h"

namespace vpltest {

// Long enough to be seen as idle by every check.
constexpr DWORD kIdleForADay = 24 * 60 * 60 * 1000;

class AutoPowerdownFixture : public ::testing::Test {
 protected:
  AutoPowerdownFixture() { ExecutionStates(true); }
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
    timing.setExecutionState = &RecordExecutionState;
    return timing;
  }
  // The states the worker asked for, in order; `clear` starts afresh.
  static std::vector<EXECUTION_STATE> ExecutionStates(bool clear = false) {
    std::lock_guard<std::mutex> lock(StateMutex());
    if (clear) States().clear();
    return States();
  }

  bool StateKeyExists() const {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                        "Software\\Tarn\\Vesperline\\AutoPowerDown", 0,
                        KEY_READ, &key) != ERROR_SUCCESS) {
      return false;
    }
    ::RegCloseKey(key);
    return true;
  }
  ULONGLONG LastAttemptTime() const {
    ULONGLONG value = 0;
    DWORD size = sizeof(value);
    ::RegGetValueA(
        HKEY_LOCAL_MACHINE, "Software\\Tarn\\Vesperline\\AutoPowerDown",
        "LastPowerDownAttemptTime", RRF_RT_QWORD, nullptr, &value, &size);
    return value;
  }

  OverriddenMachineHive hive_;
  TestRegistryKey settings_{"Software\\Tarn\\Vesperline"};
  DebugFlagsScope flags_{0};
  EventLogCapture events_;
  FakeHost host_;

 private:
  static EXECUTION_STATE WINAPI RecordExecutionState(EXECUTION_STATE state) {
    std::lock_guard<std::mutex> lock(StateMutex());
    States().push_back(state);
    return ES_CONTINUOUS;
  }
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
