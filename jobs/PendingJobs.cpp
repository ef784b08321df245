#include "jobs/SMSJobsDetector.h"

// Placeholder answers until the pending-jobs questions land.

bool CSMSJobsDetector::SMSPendingJobsFound() { return false; }

bool CSMSJobsDetector::SMSJobDisabledOrExpired(const wchar_t*, const wchar_t*,
                                               NTarn::CWbemConnection&) {
  return false;
}

void CSMSJobsDetector::GetTriggerOccurrences(const wchar_t*, __time64_t&,
                                             __time64_t&) {}

std::wstring CSMSJobsDetector::FormatTriggerJobName(const std::wstring&) {
  return std::wstring();
}
