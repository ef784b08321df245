// Answers the plug-in's questions about the ConfigMgr client from its WMI
// data. Every question opens its own WMI connection on the calling thread and
// keeps nothing between calls; a detector is used by one thread at a time.
#pragma once

#include <windows.h>

#include <ctime>
#include <string>

#include "jobs/ISMSJobsDetector.h"

namespace NTarn {
class CWbemConnection;
}

class CSMSJobsDetector : public ISMSJobsDetector {
 public:
  // Lists stay empty until Init.
  explicit CSMSJobsDetector(const wchar_t* refreshScope);
  // Init with the window and texts at once. Init may write into the texts.
  CSMSJobsDetector(const wchar_t* refreshScope, DWORD windowMinutes,
                   wchar_t* jobStates, wchar_t* updateStates);

  HRESULT Init(DWORD windowMinutes, wchar_t* jobStates,
               wchar_t* updateStates) override;
  bool SMSJobsAreRunning() override;
  bool SMSPendingJobsFound() override;
  bool SMSJobsRunningOrPending() override;
  bool FoundRecentPolicyRefreshEvent(int minutes) override;

  bool SMSDeploymentsAreRunning();
  bool SMSSoftwareUpdatesAreRunning();
  bool IsUpdateStateIgnored(LONG state) const;
  // Whether the advertisement of `jobId` (its text before the first '-') is
  // disabled or expired, asked through the caller's connection.
  bool SMSJobDisabledOrExpired(const wchar_t* jobId,
                               const wchar_t* wmiNamespace,
                               NTarn::CWbemConnection& connection);

  // Next and last occurrence of one Triggers element ("SMSSchedule=tokens");
  // outputs the schedule does not set keep their values.
  static void GetTriggerOccurrences(const wchar_t* trigger, __time64_t& next,
                                    __time64_t& last);
  // "[advert/package/program]" from a TriggerMessage, "????" for a part not
  // found.
  static std::wstring FormatTriggerJobName(const std::wstring& message);
};
