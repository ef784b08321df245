#include "jobs/SMSJobsDetector.h"

#include <wbemcli.h>
#include <wrl/client.h>

#include <algorithm>
#include <cwchar>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "common/Logging.h"
#include "common/wmi/WbemConnection.h"
#include "common/wmi/WbemErrors.h"
#include "common/wmi/WbemProperty.h"
#include "common/wmi/WbemQuestion.h"
#include "common/wmi/WbemResults.h"
#include "jobs/Clock.h"
#include "jobs/DateTime.h"
#include "jobs/Schedule.h"
#include "jobs/WindowKeeping.h"

using NTarn::IsDebugFlagSet;
using NTarn::LogMessage;
namespace debug_flags = NTarn::debug_flags;

namespace {

constexpr wchar_t kPolicyNamespace[] =
    L"root\\ccm\\Policy\\Machine\\ActualConfig";
constexpr wchar_t kScheduledMessagesQuery[] =
    L"SELECT ScheduledMessageID, TriggerMessage, Triggers FROM "
    L"CCM_Scheduler_ScheduledMessage";
constexpr wchar_t kScheduleKeyword[] = L"SMSSchedule";
constexpr size_t kScheduleKeywordLength = 11;
constexpr __time64_t kSecondsPerMinute = 60;
constexpr __time64_t kUnset = std::numeric_limits<__time64_t>::min();

// The occurrences of one element around `reference`; what the schedule does
// not give stays unset.
void EvaluateTrigger(const std::wstring& trigger, __time64_t reference,
                     TriggerEvaluation& evaluation) {
  CSchedule schedule(CSMSJobsDetector::ScheduleTextOf(trigger.c_str()).c_str());
  __time64_t next = kUnset;
  __time64_t end = kUnset;
  __time64_t last = kUnset;
  schedule.GetOccurrences(&next, &end, &reference, &last);
  if (next != kUnset) evaluation.next = next;
  if (end != kUnset) evaluation.end = end;
  if (last != kUnset) evaluation.last = last;
}

void LogReadFailure() {
  LogMessage("%T: SMSJobsDetector:- %s\n",
             NTarn::GetComErrorDescription().c_str());
}

// One scan over the scheduled messages, judged against one clock reading.
// `next` and `last` are those of the element evaluated last, each kept from
// an earlier element when the last one has none.
struct PendingScan {
  __time64_t now = 0;
  __time64_t window = 0;  // seconds
  __time64_t next = 0;
  __time64_t last = 0;
  __time64_t latestPastRun = 0;
  std::wstring jobMessage;
  bool pending = false;

  // Takes in one evaluated element; true once it is due.
  bool Take(const TriggerEvaluation& trigger) {
    jobMessage = trigger.jobMessage;
    if (trigger.next) next = *trigger.next;
    if (trigger.last) last = *trigger.last;
    // A job that cannot start before its window opens is not due.
    if (!trigger.waitsForWindow &&
        CSMSJobsDetector::IsDueWithin(next, now, window)) {
      pending = true;
      return true;
    }
    latestPastRun = std::max(latestPastRun, last);
    return false;
  }
};

// The message's ID if it names a job to evaluate: a string that does not
// begin with '{' (the client's own schedules).
void ReadJobId(IWbemClassObject* message,
               ScheduledMessageEvaluation& evaluation) {
  NTarn::WbemProperty id;
  if (FAILED(id.Read(message, L"ScheduledMessageID"))) {
    LogReadFailure();
    return;
  }
  if (id.CimType() != CIM_STRING || !id.IsText()) return;
  evaluation.id = id.Text();
  evaluation.kind = !evaluation.id.empty() && evaluation.id[0] == L'{'
                        ? ScheduledMessageEvaluation::Kind::kClientSchedule
                        : ScheduledMessageEvaluation::Kind::kEvaluated;
}

// Evaluates the schedule elements of one message's triggers until `visit`
// says stop; true when it did.
bool EvaluateTriggers(
    IWbemClassObject* message, __time64_t now,
    const CSMSJobsDetector::TriggerVisitor& visit,
    const std::function<void(TriggerEvaluation&)>& markWindowWait,
    ScheduledMessageEvaluation& evaluation) {
  NTarn::WbemProperty triggers;
  if (FAILED(triggers.Read(message, L"Triggers"))) {
    LogReadFailure();
    evaluation.kind = ScheduledMessageEvaluation::Kind::kUnreadable;
    return false;
  }
  if (!triggers.IsArray() || triggers.IsNull()) {
    evaluation.kind = ScheduledMessageEvaluation::Kind::kUnreadable;
    return false;
  }

  for (const std::optional<std::wstring>& trigger : triggers.TextArray()) {
    if (!trigger) {
      LogReadFailure();
      continue;
    }
    if (!CSMSJobsDetector::IsScheduleTrigger(*trigger)) continue;

    TriggerEvaluation element;
    element.trigger = *trigger;
    NTarn::WbemProperty jobMessage;
    if (SUCCEEDED(jobMessage.Read(message, L"TriggerMessage")) &&
        jobMessage.CimType() == CIM_STRING) {
      element.jobMessage = jobMessage.Text();
    }
    EvaluateTrigger(*trigger, now, element);
    if (markWindowWait) markWindowWait(element);
    evaluation.triggers.push_back(element);
    if (visit(evaluation.triggers.back())) return true;
  }
  return false;
}

void LogScanResult(const PendingScan& scan, DWORD windowMinutes) {
  const std::wstring jobName =
      scan.jobMessage.empty()
          ? std::wstring(L"Unknown Advert/Package/Program")
          : CSMSJobsDetector::FormatTriggerJobName(scan.jobMessage);
  if (scan.next < scan.now) {
    LogMessage("%T: SMSJobsDetector: No pending jobs found\n");
    LogMessage("Last scheduled advert %ls kicked off at %ls\n", jobName.c_str(),
               FormatLocalTime(scan.latestPastRun, kLogTimePattern).c_str());
    return;
  }
  LogMessage(
      "%T: SMSJobsDetector: %sPending jobs detected in the next %d minutes.\n",
      scan.pending ? "" : "No ", static_cast<int>(windowMinutes));
  LogMessage("Next scheduled advert %ls due to kick off at %ls\n",
             jobName.c_str(),
             FormatLocalTime(scan.next, kLogTimePattern).c_str());
}

}  // namespace

// The schedule tokens of a Triggers element: the field after the keyword,
// where runs of '=' separate fields, up to the next ';'. The client writes
// "SMSSchedule=<tokens>" but also "SMSSchedule;<name>=<tokens>;<name>=...",
// and a further pair must not be read as tokens.
std::wstring CSMSJobsDetector::ScheduleTextOf(const wchar_t* trigger) {
  const std::wstring text = trigger ? trigger : L"";
  const size_t keywordStart = text.find_first_not_of(L'=');
  if (keywordStart == std::wstring::npos) return std::wstring();
  const size_t keywordEnd = text.find(L'=', keywordStart);
  if (keywordEnd == std::wstring::npos) return std::wstring();
  const size_t start = text.find_first_not_of(L'=', keywordEnd);
  if (start == std::wstring::npos) return std::wstring();
  const size_t end = text.find_first_of(L"=;", start);
  return text.substr(start, end == std::wstring::npos ? end : end - start);
}

bool CSMSJobsDetector::IsScheduleTrigger(const std::wstring& trigger) {
  return _wcsnicmp(trigger.c_str(), kScheduleKeyword, kScheduleKeywordLength) ==
         0;
}

bool CSMSJobsDetector::IsDueWithin(__time64_t next, __time64_t now,
                                   __time64_t windowSeconds) {
  return next > now && next - now <= windowSeconds;
}

ScheduledMessageEvaluation CSMSJobsDetector::EvaluateScheduledMessage(
    IWbemClassObject* message, SoftwareDistributionPolicies& policies,
    __time64_t now, const TriggerVisitor& visit, bool* stopped) {
  *stopped = false;
  ScheduledMessageEvaluation evaluation;
  ReadJobId(message, evaluation);
  if (evaluation.kind != ScheduledMessageEvaluation::Kind::kEvaluated)
    return evaluation;
  evaluation.standing = SMSJobStanding(evaluation.id.c_str(), policies);
  if (evaluation.standing.LeftOut()) {
    evaluation.kind = ScheduledMessageEvaluation::Kind::kLeftOut;
    return evaluation;
  }
  // With the window rules on, a job whose policy keeps it to windows is
  // marked where no window that applies is open at its start.
  std::function<void(TriggerEvaluation&)> markWindowWait;
  Microsoft::WRL::ComPtr<IWbemClassObject> policy;
  if (m_walkWindows && SUCCEEDED(policies.Find(
                           AdvertisementIdOf(evaluation.id.c_str()), policy))) {
    if (const std::optional<WindowWork> work = WindowKeepingOf(policy.Get())) {
      markWindowWait = [this, kind = *work](TriggerEvaluation& trigger) {
        MarkWindowWait(kind, trigger);
      };
    }
  }
  *stopped = EvaluateTriggers(message, now, visit, markWindowWait, evaluation);
  return evaluation;
}

HRESULT CSMSJobsDetector::WalkScheduledMessages(
    __time64_t now, const TriggerVisitor& visit,
    std::vector<ScheduledMessageEvaluation>* seen, std::string* failureText) {
  // The windows the jobs keep to, read once for the walk on a connection of
  // their own.
  m_walkWindows.reset();
  if (m_maintenanceWindows) {
    NTarn::CWbemConnection windowConnection;
    m_walkWindows = ReadWindowSet(windowConnection);
  }
  NTarn::CWbemConnection connection;
  NTarn::CWbemResults messages;
  const HRESULT hr =
      connection.ExecQuery(kPolicyNamespace, kScheduledMessagesQuery, messages);
  if (hr != S_OK) {
    if (failureText) *failureText = messages.FailureText();
    return hr;
  }

  // Asked on the same connection while the messages' walk goes on, and only
  // once a message names a job.
  SoftwareDistributionPolicies policies(kPolicyNamespace, connection,
                                        m_policyReading);
  for (bool stopped = false; !stopped && !NTarn::WbemQuestionIsOver();) {
    Microsoft::WRL::ComPtr<IWbemClassObject> message;
    if (FAILED(messages.Next(message)) || !message) break;
    ScheduledMessageEvaluation evaluation =
        EvaluateScheduledMessage(message.Get(), policies, now, visit, &stopped);
    if (seen) seen->push_back(std::move(evaluation));
  }
  return S_OK;
}

bool CSMSJobsDetector::SMSPendingJobsFound() {
  const DWORD windowMinutes = m_pendingWindowMinutes;
  if (windowMinutes == 0) return false;
  const NTarn::WbemWalk walk("CSMSJobsDetector::SMSPendingJobsFound");
  if (NTarn::WbemQuestionIsOver()) return false;

  PendingScan scan;
  scan.now = CurrentTime();
  scan.window = kSecondsPerMinute * windowMinutes;
  if (m_findings) {
    m_findings->now = scan.now;
    m_findings->messages.clear();
  }
  std::string failureText;
  const HRESULT hr = WalkScheduledMessages(
      scan.now,
      [&scan](const TriggerEvaluation& trigger) { return scan.Take(trigger); },
      m_findings ? &m_findings->messages : nullptr, &failureText);
  // A question out of time says so in its own line and answers as a failed
  // query does.
  if (NTarn::WbemQuestionIsOver()) return false;
  if (hr != S_OK) {
    LogMessage("%T: CSMSJobsDetector::SMSPendingJobsFound: %s\n",
               failureText.c_str());
    return false;
  }

  if (IsDebugFlagSet(debug_flags::kVerbose)) {
    LogScanResult(scan, windowMinutes);
  }
  return scan.pending;
}

void CSMSJobsDetector::GetTriggerOccurrences(const wchar_t* trigger,
                                             __time64_t& next,
                                             __time64_t& last) {
  TriggerEvaluation evaluation;
  EvaluateTrigger(trigger ? trigger : L"", CurrentTime(), evaluation);
  if (evaluation.next) next = *evaluation.next;
  if (evaluation.last) last = *evaluation.last;
}
