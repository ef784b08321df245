#include "tools/vplhost/NextAllowed.h"

#include "jobs/SMSJobsDetector.h"
#include "tools/vplhost/ConsoleText.h"
#include "tools/vplhost/IsoTime.h"
#include "tools/vplhost/JobText.h"

namespace vplhost {
namespace {

constexpr __time64_t kSecondsPerMinute = 60;
constexpr __time64_t kHorizonSeconds = 24 * 60 * kSecondsPerMinute;

// The earliest start due within the window at `at`, as `jobs` places each
// element: a start ahead and inside the observer's own window test.
std::optional<__time64_t> EarliestDueStart(CSMSJobsDetector& detector,
                                           __time64_t at, __time64_t window,
                                           HRESULT* hr) {
  std::optional<__time64_t> earliest;
  *hr = detector.WalkScheduledMessages(
      at,
      [&](const TriggerEvaluation& trigger) {
        if (HasStartAhead(trigger, at) &&
            CSMSJobsDetector::IsDueWithin(*trigger.next, at, window) &&
            (!earliest || *trigger.next < *earliest))
          earliest = *trigger.next;
        return false;
      },
      nullptr);
  return earliest;
}

// The first whole minute at or after `time`.
__time64_t MinuteAtOrAfter(__time64_t time) {
  return (time + kSecondsPerMinute - 1) / kSecondsPerMinute * kSecondsPerMinute;
}

NextAllowed AfterDueJobs(DWORD windowMinutes, __time64_t now) {
  const std::string window =
      "the " + std::to_string(windowMinutes) + "-minute window";
  CSMSJobsDetector detector(L"", windowMinutes, nullptr, nullptr);
  // Until a job's start has passed it holds every minute before; the first
  // minute after it is the next one to try.
  __time64_t at = now;
  for (;;) {
    HRESULT hr = S_OK;
    const std::optional<__time64_t> due =
        EarliestDueStart(detector, at, kSecondsPerMinute * windowMinutes, &hr);
    if (FAILED(hr)) {
      return {std::nullopt,
              "cannot tell: the client's scheduled messages cannot be read "
              "again (" +
                  HResultText(hr) + ")"};
    }
    if (!due) {
      return {at, "the first minute at which no job is due within " + window};
    }
    at = MinuteAtOrAfter(*due);
    if (at > now + kHorizonSeconds) {
      return {std::nullopt,
              "not within the next 24 hours: a job is due "
              "within " +
                  window + " at every minute until then"};
    }
  }
}

}  // namespace

NextAllowed WhenNextAllowed(const PowerDownJudgement& judgement,
                            const JobFindings& findings, __time64_t now) {
  if (findings.now != 0) now = findings.now;
  switch (judgement.ground) {
    case PowerDownGround::kJobsPending:
      return AfterDueJobs(judgement.windowMinutes, now);
    case PowerDownGround::kJobsRunning:
      for (const ExecutionRequestFinding& request : findings.requests) {
        if (!request.ignored && !request.stale) {
          return {std::nullopt, "when that request ends (ContentID " +
                                    Narrow(request.contentId) + ")"};
        }
      }
      return {std::nullopt, "when that update has installed"};
    case PowerDownGround::kWorkWaitsForWindow:
      // Held on for the window; what the work takes in it the data cannot
      // tell, so the window's end is the earliest.
      if (judgement.windowWait) {
        return {std::nullopt,
                "when the work waiting for the maintenance window is done, "
                "not before the window ends at " +
                    IsoLocalTime(judgement.windowWait->window.End())};
      }
      return {std::nullopt, "when the work waiting for a window is done"};
    default:
      return {now, "now: the plug-in does not object"};
  }
}

}  // namespace vplhost
