#include "autopowerdown/AutoPowerDownOutcome.h"

#include "common/DecisionEntry.h"

AutoPowerDownOutcomeText DescribeOutcome(AutoPowerDownOutcome outcome) {
  namespace texts = NTarn::decision_texts;
  switch (outcome) {
    case AutoPowerDownOutcome::kComFailed:
      return {texts::kFailed, "comInitFailed"};
    case AutoPowerDownOutcome::kStoppedWhileWaiting:
      return {texts::kStopped, "stoppedWhileWaiting"};
    case AutoPowerDownOutcome::kWaitFailed:
      return {texts::kFailed, "waitFailed"};
    case AutoPowerDownOutcome::kUserInputWhileWaiting:
      return {texts::kCancelledByUserInput, "userInputWhileWaiting"};
    case AutoPowerDownOutcome::kIdleTimeUnavailable:
      return {texts::kFailed, "idleTimeUnavailable"};
    case AutoPowerDownOutcome::kUserInputBeforeRequest:
      return {texts::kCancelledByUserInput, "userInputBeforeRequest"};
    case AutoPowerDownOutcome::kRequestFailed:
      return {texts::kFailed, "requestFailed"};
    case AutoPowerDownOutcome::kUserInputAtRetry:
      return {texts::kCancelledByUserInput, "userInputAtRetry"};
    case AutoPowerDownOutcome::kAttemptsExhausted:
      return {texts::kPowerDownRequested, "attemptsExhausted"};
    case AutoPowerDownOutcome::kStoppedAfterRequest:
      return {texts::kPowerDownRequested, "stoppedAfterRequest"};
  }
  return {texts::kFailed, "unknown"};
}
