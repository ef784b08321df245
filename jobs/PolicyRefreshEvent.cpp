#include "jobs/SMSJobsDetector.h"

#include <wbemcli.h>
#include <wrl/client.h>

#include <cwchar>
#include <string>

#include "common/Logging.h"
#include "common/wmi/WbemConnection.h"
#include "common/wmi/WbemErrors.h"
#include "common/wmi/WbemProperty.h"
#include "common/wmi/WbemQuestion.h"
#include "common/wmi/WbemResults.h"
#include "jobs/AutomationDate.h"
#include "jobs/Clock.h"

using NTarn::IsDebugFlagSet;
using NTarn::LogMessage;
namespace debug_flags = NTarn::debug_flags;

namespace {

constexpr wchar_t kSchedulerNamespace[] = L"root\\CCM\\Scheduler";
constexpr wchar_t kHistoryQuery[] =
    L"SELECT ScheduleID, LastTriggerTime FROM CCM_Scheduler_History";
constexpr wchar_t kMachinePolicyRefresh[] =
    L"{00000000-0000-0000-0000-000000000022}";
constexpr wchar_t kScopedPolicyRefresh[] =
    L"{00000000-0000-0000-0000-000000000027}";
constexpr wchar_t kDeadlinePrefix[] = L"DEADLINE:{";
constexpr size_t kDeadlinePrefixLength = 10;
// The first 14 characters of a CIM_DATETIME text.
constexpr wchar_t kDateTimeDigits[] = L"%Y%m%d%H%M%S";

bool IsRefreshSchedule(const std::wstring& id, const wchar_t* refreshScope) {
  if (id == kMachinePolicyRefresh) return true;
  if (id == kScopedPolicyRefresh && refreshScope && *refreshScope) return true;
  return _wcsnicmp(id.c_str(), kDeadlinePrefix, kDeadlinePrefixLength) == 0;
}

// A date as the first 14 characters of a CIM_DATETIME text.
std::wstring LocalDigits(const CAutomationDate& date) {
  return date.Format(kDateTimeDigits);
}

void LogFailure(const char* what) {
  LogMessage("%T: CSMSJobsDetector::FoundRecentPolicyRefreshEvent: %s\n", what);
}

}  // namespace

bool CSMSJobsDetector::FoundRecentPolicyRefreshEvent(int minutes) {
  const NTarn::WbemWalk walk("CSMSJobsDetector::FoundRecentPolicyRefreshEvent");
  if (NTarn::WbemQuestionIsOver()) return false;
  NTarn::CWbemConnection connection;
  NTarn::CWbemResults history;
  const HRESULT hr =
      connection.ExecQuery(kSchedulerNamespace, kHistoryQuery, history);
  if (hr != S_OK) {
    // A question out of time says so in its own line.
    if (!NTarn::WbemQuestionIsOver()) LogFailure(history.FailureText().c_str());
    return false;
  }

  for (;;) {
    Microsoft::WRL::ComPtr<IWbemClassObject> entry;
    if (history.Next(entry) != S_OK || !entry) return false;

    // An entry that cannot say which schedule it records ends the check.
    NTarn::WbemProperty scheduleId;
    if (FAILED(scheduleId.Read(entry.Get(), L"ScheduleID"))) {
      LogFailure(NTarn::GetComErrorDescription().c_str());
      return false;
    }
    if (scheduleId.CimType() != CIM_STRING) {
      LogMessage(
          "%T: CSMSJobsDetector::FoundRecentPolicyRefreshEvent: returned "
          "ScheduleID value isn't a CIM_STRING\n");
      return false;
    }
    if (!IsRefreshSchedule(scheduleId.Text(), m_refreshScope)) continue;

    NTarn::WbemProperty lastTrigger;
    if (FAILED(lastTrigger.Read(entry.Get(), L"LastTriggerTime"))) {
      LogFailure(NTarn::GetComErrorDescription().c_str());
      continue;
    }
    if (lastTrigger.CimType() != CIM_DATETIME) {
      LogMessage(
          "%T: CSMSJobsDetector::FoundRecentPolicyRefreshEvent: returned "
          "value isn't a CIM_DATETIME\n");
      continue;
    }
    // NULL: the schedule has not fired yet.
    if (!lastTrigger.IsText()) continue;

    // The client writes local-clock digits; they are compared unchanged.
    const std::wstring lowerBound =
        LocalDigits(CAutomationDate(CurrentTime()).SubtractMinutes(minutes));
    if (IsDebugFlagSet(debug_flags::kVerbose)) {
      LogMessage("%T: Last policy refresh was at %s\n",
                 lastTrigger.AnsiText().c_str());
    }
    // Its date and time of day against the bound's: a refresh in the bound's
    // second counts. (The whole text, longer than the bound, would sort
    // after a bound equal to its digits whatever the comparison.)
    const std::wstring fired = lastTrigger.Text();
    if (fired.compare(0, lowerBound.size(), lowerBound) < 0) continue;
    if (LocalDigits(CAutomationDate(CurrentTime())) >= fired) return true;
  }
}
