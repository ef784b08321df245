#include "jobs/SMSJobsDetector.h"

#include <wbemcli.h>
#include <wrl/client.h>

#include <algorithm>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "common/Logging.h"
#include "common/wmi/WbemConnection.h"
#include "common/wmi/WbemErrors.h"
#include "common/wmi/WbemProperty.h"
#include "jobs/Clock.h"
#include "jobs/DateTime.h"
#include "jobs/FetchNextObject.h"
#include "jobs/Schedule.h"

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

// The schedule tokens of a Triggers element: the field after the keyword,
// where runs of '=' separate fields, up to the next ';'. The client writes
// "SMSSchedule=<tokens>" but also "SMSSchedule;<name>=<tokens>;<name>=...",
// and a further pair must not be read as tokens.
std::wstring ScheduleTextOf(const wchar_t* trigger) {
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

void TriggerOccurrencesAt(const wchar_t* trigger, __time64_t reference,
                          __time64_t& next, __time64_t& last) {
  CSchedule schedule(ScheduleTextOf(trigger).c_str());
  schedule.GetOccurrences(&next, nullptr, &reference, &last);
}

bool IsScheduleTrigger(const std::wstring& trigger) {
  return _wcsnicmp(trigger.c_str(), kScheduleKeyword, kScheduleKeywordLength) ==
         0;
}

void LogReadFailure() {
  LogMessage("%T: SMSJobsDetector:- %s\n",
             NTarn::GetComErrorDescription().c_str());
}

// One scan over the scheduled messages, judged against one clock reading.
struct PendingScan {
  __time64_t now = 0;
  __time64_t window = 0;  // seconds
  __time64_t next = 0;
  __time64_t last = 0;
  __time64_t latestPastRun = 0;
  std::wstring jobMessage;
  bool pending = false;
};

// The message's ID if it names a job to evaluate: a string that does not
// begin with '{' (the client's own schedules).
std::optional<std::wstring> JobIdOf(IWbemClassObject* message) {
  NTarn::WbemProperty id;
  if (FAILED(id.Read(message, L"ScheduledMessageID"))) {
    LogReadFailure();
    return std::nullopt;
  }
  if (id.CimType() != CIM_STRING || !id.IsText()) return std::nullopt;
  std::wstring text = id.Text();
  if (!text.empty() && text[0] == L'{') return std::nullopt;
  return text;
}

// Evaluates the schedule elements of one message's triggers until one is
// pending.
void EvaluateTriggers(IWbemClassObject* message, PendingScan& scan) {
  NTarn::WbemProperty triggers;
  if (FAILED(triggers.Read(message, L"Triggers"))) {
    LogReadFailure();
    return;
  }
  if (!triggers.IsArray() || triggers.IsNull()) return;

  for (const std::optional<std::wstring>& trigger : triggers.TextArray()) {
    if (!trigger) {
      LogReadFailure();
      continue;
    }
    if (!IsScheduleTrigger(*trigger)) continue;

    scan.jobMessage.clear();
    NTarn::WbemProperty jobMessage;
    if (SUCCEEDED(jobMessage.Read(message, L"TriggerMessage")) &&
        jobMessage.CimType() == CIM_STRING) {
      scan.jobMessage = jobMessage.Text();
    }

    TriggerOccurrencesAt(trigger->c_str(), scan.now, scan.next, scan.last);
    if (scan.next > scan.now && scan.next - scan.now <= scan.window) {
      scan.pending = true;
      return;
    }
    scan.latestPastRun = std::max(scan.latestPastRun, scan.last);
  }
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

bool CSMSJobsDetector::SMSPendingJobsFound() {
  const DWORD windowMinutes = m_pendingWindowMinutes;
  if (windowMinutes == 0) return false;

  NTarn::CWbemConnection connection;
  Microsoft::WRL::ComPtr<IEnumWbemClassObject> messages;
  const HRESULT hr =
      connection.ExecQuery(kPolicyNamespace, kScheduledMessagesQuery, messages);
  if (hr != S_OK) {
    LogMessage("%T: CSMSJobsDetector::SMSPendingJobsFound: %s\n",
               NTarn::GetComErrorDescription().c_str());
    return false;
  }

  PendingScan scan;
  scan.now = CurrentTime();
  scan.window = kSecondsPerMinute * windowMinutes;
  while (!scan.pending) {
    Microsoft::WRL::ComPtr<IWbemClassObject> message;
    if (FAILED(FetchNextObject(messages.Get(), message)) || !message) break;
    const std::optional<std::wstring> jobId = JobIdOf(message.Get());
    if (!jobId) continue;
    if (SMSJobDisabledOrExpired(jobId->c_str(), kPolicyNamespace, connection)) {
      continue;
    }
    EvaluateTriggers(message.Get(), scan);
  }

  if (IsDebugFlagSet(debug_flags::kVerbose)) {
    LogScanResult(scan, windowMinutes);
  }
  return scan.pending;
}

void CSMSJobsDetector::GetTriggerOccurrences(const wchar_t* trigger,
                                             __time64_t& next,
                                             __time64_t& last) {
  TriggerOccurrencesAt(trigger, CurrentTime(), next, last);
}
