#include "observer/ObserverSettings.h"

#include <cstring>

#include "common/Logging.h"
#include "common/RegistryParameters.h"
#include "common/ScopedHandle.h"

using NTarn::DebugFlags;
using NTarn::GetRegParameter;
using NTarn::RegGetPolicyParameter;
namespace reg_flags = NTarn::reg_flags;

namespace {

constexpr char kSettingsKey[] = "Software\\Tarn\\Vesperline";
constexpr char kPolicySettingsKey[] = "Software\\Policies\\Tarn\\Vesperline";

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

void ObserverSettings::CopyStateListsFrom(const ObserverSettings& other) {
  m_allowedJobStates = other.m_allowedJobStates;
  m_allowedUpdateStates = other.m_allowedUpdateStates;
  m_staleJobHours = other.m_staleJobHours;
}

template <size_t Size>
void ObserverSettings::ReadPolicyText(const char* valueName,
                                      PolicyText<Size>& setting,
                                      const char* builtInDefault, DWORD flags) {
  const bool policyHolds = PolicyHoldsValue(valueName);
  // A read that may write back a missing value must not write the policy's
  // text into the normal key.
  if (!policyHolds && setting.fromPolicy && !(flags & reg_flags::kReadOnly)) {
    strncpy_s(setting.text, builtInDefault, _TRUNCATE);
    setting.fromPolicy = false;
  }
  const PolicyText<Size> before = setting;
  const DWORD status =
      RegGetPolicyParameter(HKEY_LOCAL_MACHINE, kSettingsKey, valueName, REG_SZ,
                            setting.text, sizeof(setting.text), flags);
  // A stored text that fills the buffer exactly comes without a terminator.
  setting.text[Size - 1] = '\0';
  if (policyHolds) {
    // A policy value that could not be read leaves the text as it was.
    if (status == ERROR_SUCCESS || status == 1) setting.fromPolicy = true;
  } else if (strcmp(before.text, setting.text) != 0) {
    setting.fromPolicy = false;
  }
  // Otherwise the text was kept (a read-only read of a missing value), and so
  // is where it came from.
}

bool ObserverSettings::PolicyHoldsValue(const char* valueName) {
  NTarn::ScopedRegKey key;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPolicySettingsKey, 0, KEY_READ,
                      key.Receive()) != ERROR_SUCCESS) {
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
