// The job detector as its users see it: a plain abstract class (not a COM
// object) holding the detector's settings, with the questions in a fixed
// virtual-table order.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "jobs/ServiceWindow.h"

struct JobFindings;

class ISMSJobsDetector {
 public:
  ISMSJobsDetector(const ISMSJobsDetector&) = delete;
  ISMSJobsDetector& operator=(const ISMSJobsDetector&) = delete;

  // Stores the window and empties both lists; the base ignores the texts.
  virtual HRESULT Init(DWORD windowMinutes, wchar_t* jobStates,
                       wchar_t* updateStates);
  virtual ~ISMSJobsDetector() = default;
  // A deployment or a software update is running now.
  virtual bool SMSJobsAreRunning() = 0;
  // A scheduled job starts within the pending window.
  virtual bool SMSPendingJobsFound() = 0;
  virtual bool SMSJobsRunningOrPending() = 0;
  // The client recorded a policy refresh within the last `minutes` minutes.
  virtual bool FoundRecentPolicyRefreshEvent(int minutes) = 0;
  // Required work that the client holds back until a maintenance window
  // open now or opening within the pending window; none while the window
  // rules are off.
  virtual std::optional<WindowWait> WorkWaitingForWindow() {
    return std::nullopt;
  }

  DWORD PendingWindowMinutes() const { return m_pendingWindowMinutes; }
  const std::vector<std::wstring>& IgnoredJobStates() const {
    return m_ignoredJobStates;
  }
  const std::vector<LONG>& IgnoredUpdateStates() const {
    return m_ignoredUpdateStates;
  }
  // Hours after its ReceivedTime at which a running deployment no longer
  // holds a power-down up; 0, the default, never. Init leaves it alone.
  DWORD StaleJobHours() const { return m_staleJobHours; }
  void SetStaleJobHours(DWORD hours) { m_staleJobHours = hours; }
  // Has the questions record what they see into `findings` (null: nothing
  // is recorded); it must outlive the questions asked. A detector that
  // records nothing leaves it alone.
  void RecordFindings(JobFindings* findings) { m_findings = findings; }
  // Whether the questions follow the client's maintenance windows; off, the
  // default, answers as without them. Init leaves it alone.
  bool MaintenanceWindows() const { return m_maintenanceWindows; }
  void SetMaintenanceWindows(bool on) { m_maintenanceWindows = on; }

 protected:
  // `refreshScope` is borrowed, never freed: it must outlive the detector.
  explicit ISMSJobsDetector(const wchar_t* refreshScope)
      : m_refreshScope(refreshScope) {}

  DWORD m_pendingWindowMinutes = 0;
  std::vector<std::wstring> m_ignoredJobStates;
  std::vector<LONG> m_ignoredUpdateStates;
  DWORD m_staleJobHours = 0;
  bool m_maintenanceWindows = false;
  const wchar_t* m_refreshScope;
  JobFindings* m_findings = nullptr;
};
