#include "observer/ObserverSettings.h"

#include <cstring>

#include "common/Logging.h"
#include "common/PolicyBackedSetting.h"
#include "common/RegistryParameters.h"
#include "common/ScopedHandle.h"

using NTarn::DebugFlags;
using NTarn::GetRegParameter;
using NTarn::RegGetPolicyParameter;
namespace reg_flags = NTarn::reg_flags;

namespace {

constexpr char kSettingsKey[] = "Software\\Tarn\\Vesperline";

}  // namespace

void ObserverSettings::Load(DWORD hostFlags) {
  ReadPolicyText("MonitorJobs", m_monitorJobs, "OFF", hostFlags);
  RegGetPolicyParameter(HKEY_LOCAL_MACHINE, kSettingsKey,
                        "PendingSMSJobWindowMins", REG_DWORD,
                        &m_pendingWindowMinutes, sizeof(m_pendingWindowMinutes),
                        hostFlags | reg_flags::kReadOnly);
  ReadDebugFlags(hostFlags | reg_flags::kReadOnly);
  ReadPolicyText("AllowedShutdownJobStates", m_allowedJobStates, "",
                 hostFlags | reg_flags::kReadOnly | reg_flags::kTraceChanged);
  ReadPolicyText("AllowedShutdownUpdateStates", m_allowedUpdateStates, "",
                 hostFlags | reg_flags::kReadOnly | reg_flags::kTraceChanged);
  ReadStaleJobHours(hostFlags);
  // Like the monitoring switch: created as "OFF" when missing.
  ReadPolicyText("MaintenanceWindows", m_maintenanceWindows, "OFF", hostFlags);
}

void ObserverSettings::ReloadStateLists() {
  ReadDebugFlags(reg_flags::kReadOnly);
  ReadPolicyText("AllowedShutdownJobStates", m_allowedJobStates, "",
                 reg_flags::kTraceChanged);
  ReadPolicyText("AllowedShutdownUpdateStates", m_allowedUpdateStates, "",
                 reg_flags::kTraceChanged);
  ReadStaleJobHours(0);
}

bool ObserverSettings::MonitoringOn() const {
  // The whole text: "on " with a blank is not "ON".
  return _stricmp(m_monitorJobs.text, "ON") == 0;
}

bool ObserverSettings::MaintenanceWindowsOn() const {
  return _stricmp(m_maintenanceWindows.text, "ON") == 0;
}

void ObserverSettings::CopyStateListsFrom(const ObserverSettings& other) {
  m_allowedJobStates = other.m_allowedJobStates;
  m_allowedUpdateStates = other.m_allowedUpdateStates;
  m_staleJobHours = other.m_staleJobHours;
}

template <size_t Size>
void ObserverSettings::ReadPolicyText(const char* valueName,
                                      PolicyText<Size>& setting,
                                      const char* builtInDefault, DWORD flags) {
  char defaultText[Size] = {};
  strncpy_s(defaultText, builtInDefault, _TRUNCATE);
  NTarn::ReadPolicyBackedSetting(HKEY_LOCAL_MACHINE, kSettingsKey, valueName,
                                 REG_SZ, setting.text, sizeof(setting.text),
                                 defaultText, setting.fromPolicy, flags);
}

ObserverSettings::Source ObserverSettings::SourceOf(const char* valueName) {
  if (NTarn::PolicyHoldsValue(HKEY_LOCAL_MACHINE, kSettingsKey, valueName))
    return Source::kPolicy;
  return KeyHoldsValue(kSettingsKey, valueName) ? Source::kLocal
                                                : Source::kDefault;
}

// As the policy overlay tests it: the value's size can be asked for.
bool ObserverSettings::KeyHoldsValue(const char* path, const char* valueName) {
  NTarn::ScopedRegKey key;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, key.Receive()) !=
      ERROR_SUCCESS) {
    return false;
  }
  const LONG status = ::RegQueryValueExA(key.Get(), valueName, nullptr, nullptr,
                                         nullptr, nullptr);
  return status == ERROR_SUCCESS || status == ERROR_MORE_DATA;
}

void ObserverSettings::ReadDebugFlags(DWORD flags) {
  DWORD value = DebugFlags.load();
  GetRegParameter(HKEY_LOCAL_MACHINE, kSettingsKey, "debug", REG_DWORD, &value,
                  sizeof(value), flags);
  DebugFlags.store(value);
}

// Read-only and 0 when missing: without the value, running deployments count
// as running however old they are.
void ObserverSettings::ReadStaleJobHours(DWORD flags) {
  DWORD hours = 0;
  RegGetPolicyParameter(
      HKEY_LOCAL_MACHINE, kSettingsKey, "StaleJobHours", REG_DWORD, &hours,
      sizeof(hours), flags | reg_flags::kReadOnly | reg_flags::kTraceChanged);
  m_staleJobHours = hours;
}
