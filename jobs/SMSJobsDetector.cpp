#include "jobs/SMSJobsDetector.h"

// Placeholder answers until the detection questions land; the observer and
// the auto-shutdown handler are wired against this interface.

HRESULT ISMSJobsDetector::Init(DWORD windowMinutes, wchar_t*, wchar_t*) {
  m_pendingWindowMinutes = windowMinutes;
  m_ignoredJobStates.clear();
  m_ignoredUpdateStates.clear();
  return S_OK;
}

CSMSJobsDetector::CSMSJobsDetector(const wchar_t* refreshScope)
    : ISMSJobsDetector(refreshScope) {}

CSMSJobsDetector::CSMSJobsDetector(const wchar_t* refreshScope,
                                   DWORD windowMinutes, wchar_t* jobStates,
                                   wchar_t* updateStates)
    : ISMSJobsDetector(refreshScope) {
  Init(windowMinutes, jobStates, updateStates);
}

HRESULT CSMSJobsDetector::Init(DWORD windowMinutes, wchar_t* jobStates,
                               wchar_t* updateStates) {
  return ISMSJobsDetector::Init(windowMinutes, jobStates, updateStates);
}

bool CSMSJobsDetector::SMSJobsAreRunning() {
  return SMSDeploymentsAreRunning() || SMSSoftwareUpdatesAreRunning();
}

bool CSMSJobsDetector::SMSJobsRunningOrPending() {
  return SMSJobsAreRunning() || SMSPendingJobsFound();
}

bool CSMSJobsDetector::SMSDeploymentsAreRunning() { return false; }
bool CSMSJobsDetector::SMSSoftwareUpdatesAreRunning() { return false; }
bool CSMSJobsDetector::IsUpdateStateIgnored(LONG) const { return false; }
