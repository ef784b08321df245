// How a run of the auto power-down worker ended, as the decision record
// keeps it: the answer ("power-down requested", "cancelled by user input",
// "stopped", "failed") and the ground that says which end it was.
#pragma once

enum class AutoPowerDownOutcome {
  kComFailed,               // COM could not be initialised for the worker
  kStoppedWhileWaiting,     // stopped before the policy wait was over
  kWaitFailed,              // the wait for the next minute failed
  kUserInputWhileWaiting,   // a user touched the machine during the wait
  kIdleTimeUnavailable,     // the host could not say how long it was idle
  kUserInputBeforeRequest,  // a user touched it just before the request
  kRequestFailed,           // the request could not be made or was refused
  kUserInputAtRetry,        // a user came back before a retry
  kAttemptsExhausted,       // every permitted attempt was made
  kStoppedAfterRequest,     // stopped while the request was open
};

struct AutoPowerDownOutcomeText {
  const char* answer;
  const char* ground;
};

AutoPowerDownOutcomeText DescribeOutcome(AutoPowerDownOutcome outcome);
