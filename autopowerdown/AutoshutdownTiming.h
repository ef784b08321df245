// The time constants of the auto power-down sequence in one place. The
// product always runs with the defaults; tests shorten them to run the whole
// sequence in milliseconds.
#pragma once

#include <windows.h>

struct AutoshutdownTiming {
  // One step of the policy wait.
  DWORD minuteMilliseconds = 60000;
  // User input more recent than this cancels the sequence.
  DWORD userInputThresholdMilliseconds = 60000;
  // Minutes the wait looks out for a policy refresh, and minutes it then
  // gives the client to generate the jobs that the policy brings.
  int policyWaitMinutes = 12;
  // One minute of "RetryInterval" on the retry timer, in 100-ns units.
  ULONGLONG retryTimerMinute = 600000000ULL;
  // How the wait keeps the machine awake.
  EXECUTION_STATE(WINAPI* setExecutionState)
  (EXECUTION_STATE state) = ::SetThreadExecutionState;
};
