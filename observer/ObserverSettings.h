// The observer's settings: the monitoring switch, the pending-job window, the
// two lists of states that do not hold a power-down up, the age at which a
// running deployment no longer does, and the switch of the maintenance-window
// rules. A plain value:
// the observer keeps one under its lock and each operation works on a copy.
#pragma once

#include <windows.h>

class ObserverSettings {
 public:
  // What LoadSettings reads, in this order, with the host's flags: the
  // switch, the window, the debug word, both lists, the stale-job hours and
  // the window rules' switch.
  void Load(DWORD hostFlags);
  // What each power-down question reads again: the debug word, both lists,
  // the lists written back to the normal key when missing there, and the
  // stale-job hours, never written.
  void ReloadStateLists();

  // Monitoring is on when the switch is "ON", ignoring case.
  bool MonitoringOn() const;
  // The maintenance-window rules apply when "MaintenanceWindows" is "ON",
  // ignoring case.
  bool MaintenanceWindowsOn() const;
  const char* MaintenanceWindows() const { return m_maintenanceWindows.text; }

  const char* MonitorJobs() const { return m_monitorJobs.text; }
  DWORD PendingWindowMinutes() const { return m_pendingWindowMinutes; }
  const char* AllowedJobStates() const { return m_allowedJobStates.text; }
  const char* AllowedUpdateStates() const { return m_allowedUpdateStates.text; }
  DWORD StaleJobHours() const { return m_staleJobHours; }

  // Takes the two lists (and where they came from) and the stale-job hours
  // of `other`.
  void CopyStateListsFrom(const ObserverSettings& other);

  // Where a setting read now would come from: the policy key, the normal
  // key, or neither (the reader's default).
  enum class Source { kPolicy, kLocal, kDefault };
  static Source SourceOf(const char* valueName);

  // Buffers, in bytes with the terminator, of the texts: a stored text that
  // does not fit is not read, and the previous text stays.
  static constexpr DWORD kMonitorJobsBytes = 10;
  static constexpr DWORD kStateListBytes = 520;

 private:
  // A text setting and whether its current value came from the policy key
  // (common/PolicyBackedSetting.h: a policy value is never copied into the
  // normal key).
  template <size_t Size>
  struct PolicyText {
    char text[Size];
    bool fromPolicy;
  };
  template <size_t Size>
  static void ReadPolicyText(const char* valueName, PolicyText<Size>& setting,
                             const char* builtInDefault, DWORD flags);
  static bool KeyHoldsValue(const char* path, const char* valueName);
  static void ReadDebugFlags(DWORD flags);
  void ReadStaleJobHours(DWORD flags);

  PolicyText<kMonitorJobsBytes> m_monitorJobs{"OFF", false};
  DWORD m_pendingWindowMinutes = 0;
  PolicyText<kStateListBytes> m_allowedJobStates{"", false};
  PolicyText<kStateListBytes> m_allowedUpdateStates{"", false};
  DWORD m_staleJobHours = 0;
  PolicyText<kMonitorJobsBytes> m_maintenanceWindows{"OFF", false};
};
