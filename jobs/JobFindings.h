// What the detector's questions saw on their way to an answer, for a caller
// that must explain the answer rather than only act on it. The detector
// records into one only when it is given one; the answers do not change.
#pragma once

#include <windows.h>

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "jobs/ServiceWindow.h"

// One execution request in a running state, whether its State is one the
// settings ignore, and whether it was received longer ago than the stale
// limit allows.
struct ExecutionRequestFinding {
  std::wstring contentId;
  std::wstring advertId;
  std::wstring state;
  std::wstring runningState;
  bool ignored = false;
  bool stale = false;
};

// One targeted update not yet installed, and whether its status is ignored.
struct UpdateFinding {
  std::wstring updateId;
  LONG status = 0;
  bool ignored = false;
  // The documented state the ClientSDK lists it with, when that judged it.
  std::optional<LONG> evaluationState;
};

// Why an advertisement's job is left out of the pending question.
struct JobStanding {
  bool expired = false;
  bool disabled = false;
  bool LeftOut() const { return expired || disabled; }
};

// One schedule element of a scheduled message, evaluated against the scan's
// clock reading: its next start (and end) and its latest start before.
struct TriggerEvaluation {
  std::wstring trigger;
  // The message's TriggerMessage, as read for this element.
  std::wstring jobMessage;
  std::optional<__time64_t> next;
  std::optional<__time64_t> end;
  std::optional<__time64_t> last;
  // With the maintenance-window rules on: the job keeps to windows, none
  // that applies to it is open at its next start, so it cannot start then;
  // and the window that opens for it next, if the client lists one.
  bool waitsForWindow = false;
  std::optional<ServiceWindow> nextWindow;
};

// One CCM_Scheduler_ScheduledMessage as the pending question sees it.
struct ScheduledMessageEvaluation {
  enum class Kind {
    kUnreadable,      // no usable ScheduledMessageID or Triggers
    kClientSchedule,  // an ID beginning with '{': the client's own
    kLeftOut,         // its advertisement is disabled or expired
    kEvaluated,       // its schedule elements were evaluated
  };
  Kind kind = Kind::kUnreadable;
  std::wstring id;
  JobStanding standing;
  std::vector<TriggerEvaluation> triggers;
};

struct JobFindings {
  std::vector<ExecutionRequestFinding> requests;
  std::vector<UpdateFinding> updates;
  // The pending question's clock reading and every message it looked at, in
  // the order WMI returned them; it stops at the first due job.
  __time64_t now = 0;
  std::vector<ScheduledMessageEvaluation> messages;
  // The maintenance-window occurrences the window rules read, and the work
  // found waiting for one of them.
  std::vector<ServiceWindow> windows;
  std::optional<WindowWait> windowWait;
};
