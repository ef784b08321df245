#include "tools/vplhost/EffectiveSettings.h"

#include <windows.h>

#include <cstring>

#include "autopowerdown/CPowerDownContext.h"
#include "autopowerdown/SettingsKeys.h"
#include "common/Logging.h"
#include "common/RegistryParameters.h"
#include "observer/ObserverSettings.h"
#include "observer/VetoMode.h"
#include "tools/vplhost/ConsoleText.h"

namespace vplhost {
namespace {

using nlohmann::ordered_json;

constexpr DWORD kReadOnlyKeepDefault =
    NTarn::reg_flags::kReadOnly | NTarn::reg_flags::kKeepDefault;

// A text as the auto power-down reads it: read-only, with its default.
template <DWORD Size>
std::string AutoPowerdownText(const char* name, const char* builtInDefault,
                              DWORD flags) {
  char text[Size] = "";
  strncpy_s(text, builtInDefault, _TRUNCATE);
  NTarn::RegGetPolicyParameter(HKEY_LOCAL_MACHINE,
                               autopowerdown_keys::kSettings, name, REG_SZ,
                               text, Size, flags);
  text[Size - 1] = '\0';
  return text;
}

DWORD AutoPowerdownNumber(const char* name, DWORD flags) {
  DWORD number = 0;
  NTarn::RegGetPolicyParameter(HKEY_LOCAL_MACHINE,
                               autopowerdown_keys::kSettings, name, REG_DWORD,
                               &number, sizeof(number), flags);
  return number;
}

}  // namespace

const std::vector<const char*>& EffectiveSettings::Names() {
  static const std::vector<const char*> names = {"MonitorJobs",
                                                 "PendingSMSJobWindowMins",
                                                 "AllowedShutdownJobStates",
                                                 "AllowedShutdownUpdateStates",
                                                 "StaleJobHours",
                                                 "MaintenanceWindows",
                                                 "VetoMode",
                                                 "LogOffAction",
                                                 "RetryAttempts",
                                                 "RetryInterval",
                                                 "CountdownSecs",
                                                 "ShutdownMsg",
                                                 "debug"};
  return names;
}

bool EffectiveSettings::HasPolicy(const char* name) {
  // The diagnostic switch is read from the settings key alone.
  return std::strcmp(name, "debug") != 0;
}

EffectiveSettings EffectiveSettings::Read(const SettingSources& sources) {
  // What the observer goes by, and the debug word it reads with them.
  ObserverSettings observer;
  observer.Load(0);
  // What each auto power-down attempt reads: the logoff action and the
  // retries keep their defaults when missing; the count-down and the message
  // are read as they are.
  const std::string never = Narrow(LogoffActionToText(kLogoffNever));
  const std::map<std::string, ordered_json> values = {
      {"MonitorJobs", observer.MonitorJobs()},
      {"PendingSMSJobWindowMins", observer.PendingWindowMinutes()},
      {"AllowedShutdownJobStates", observer.AllowedJobStates()},
      {"AllowedShutdownUpdateStates", observer.AllowedUpdateStates()},
      {"StaleJobHours", observer.StaleJobHours()},
      {"MaintenanceWindows", observer.MaintenanceWindows()},
      // What an objection reads: anything but "REPORT" enforces.
      {"VetoMode", VetoModeIsReportOnly() ? "REPORT" : "ENFORCE"},
      {"LogOffAction",
       AutoPowerdownText<autopowerdown_keys::kLogoffActionBytes>(
           "LogOffAction", never.c_str(), kReadOnlyKeepDefault)},
      {"RetryAttempts",
       AutoPowerdownNumber("RetryAttempts", kReadOnlyKeepDefault)},
      {"RetryInterval",
       AutoPowerdownNumber("RetryInterval", kReadOnlyKeepDefault)},
      {"CountdownSecs",
       AutoPowerdownNumber("CountdownSecs", NTarn::reg_flags::kReadOnly)},
      {"ShutdownMsg",
       AutoPowerdownText<autopowerdown_keys::kShutdownMessageBytes>(
           "ShutdownMsg", "", NTarn::reg_flags::kReadOnly)},
      {"debug", NTarn::DebugFlags.load()},
  };
  EffectiveSettings settings;
  for (const char* name : Names()) {
    const auto source = sources.find(name);
    settings.m_values.push_back(
        {name, values.at(name),
         source == sources.end() ? std::string("default") : source->second});
  }
  return settings;
}

ordered_json EffectiveSettings::Json() const {
  ordered_json settings = ordered_json::object();
  for (const EffectiveSetting& setting : m_values)
    settings[setting.name] = {{"value", setting.value},
                              {"source", setting.source}};
  return settings;
}

std::vector<std::string> EffectiveSettings::Lines() const {
  std::vector<std::string> lines;
  for (const EffectiveSetting& setting : m_values) {
    lines.push_back(setting.name + " " + setting.value.dump() + " (" +
                    SourceText(setting.name, setting.source) + ")");
  }
  return lines;
}

std::string SourceText(const std::string& name, const std::string& source) {
  if (source == "default") return "not set: the plug-in's default";
  if (source == "local") return "this machine's setting";
  if (source == "scenario") return "the scenario's registry";
  if (source == "policy") return "Group Policy";
  if (source != "vplhost") return source;
  if (name == "MonitorJobs")
    return "vplhost: a replay monitors unless its scenario says otherwise";
  return "vplhost: set for the run";
}

}  // namespace vplhost
