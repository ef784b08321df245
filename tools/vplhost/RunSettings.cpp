#include "tools/vplhost/RunSettings.h"

#include <string>

#include "common/PolicyBackedSetting.h"
#include "tools/vplhost/EffectiveSettings.h"
#include "tools/vplhost/ExitCode.h"

namespace vplhost {
namespace {

constexpr char kSettingsKey[] = "Software\\Tarn\\Vesperline";

bool ScenarioSets(const vpltest::sim::Scenario& scenario, const char* name) {
  for (const vpltest::sim::RegistryValue& value : scenario.RegistryValues()) {
    if (_wcsicmp(value.key.c_str(),
                 vpltest::sim::Utf8ToWide(kSettingsKey).c_str()) == 0 &&
        _wcsicmp(value.name.c_str(), vpltest::sim::Utf8ToWide(name).c_str()) ==
            0)
      return true;
  }
  return false;
}

// A replay's monitoring switch when the scenario states none: on, so that
// a scenario shows what the client would hold up.
bool ReplayTurnsMonitoringOn(const Options& options,
                             const vpltest::sim::Scenario* scenario) {
  return scenario && !options.monitor &&
         !ScenarioSets(*scenario, "MonitorJobs");
}

// Whether vplhost sets the plug-in's diagnostic switch for the run: as told,
// or off for a replay whose scenario does not set it. A live run keeps the
// machine's switch unless told.
bool SetsDebug(const Options& options, const SettingsPlan& plan,
               const vpltest::sim::Scenario* scenario) {
  if (plan.recordOnly) return false;
  return options.verbose || plan.alwaysVerbose ||
         (scenario && !ScenarioSets(*scenario, "debug"));
}

bool KeyHolds(const char* path, const char* name) {
  return ::RegGetValueA(HKEY_LOCAL_MACHINE, path, name, RRF_RT_ANY, nullptr,
                        nullptr, nullptr) == ERROR_SUCCESS;
}

// Where each setting comes from, read from the run's keys before the
// plug-in reads (and writes back) any of them.
SettingSources SourcesOf(const Options& options, const SettingsPlan& plan,
                         const vpltest::sim::Scenario* scenario) {
  SettingSources sources;
  for (const char* name : EffectiveSettings::Names()) {
    const std::string value = name;
    if (EffectiveSettings::HasPolicy(name) &&
        NTarn::PolicyHoldsValue(HKEY_LOCAL_MACHINE, kSettingsKey, name)) {
      sources[value] = "policy";
    } else if (!KeyHolds(kSettingsKey, name)) {
      sources[value] = "default";
    } else if (value == "MonitorJobs" && options.monitor) {
      sources[value] = "--monitor";
    } else if (value == "MonitorJobs" &&
               ReplayTurnsMonitoringOn(options, scenario)) {
      sources[value] = "vplhost";
    } else if (value == "PendingSMSJobWindowMins" && options.window) {
      sources[value] = "--window";
    } else if (value == "MaintenanceWindows" && options.maintenanceWindows) {
      sources[value] = "--maintenance-windows";
    } else if (value == "debug" && SetsDebug(options, plan, scenario)) {
      sources[value] = options.verbose ? "--verbose" : "vplhost";
    } else if (scenario) {
      sources[value] = "scenario";
    } else {
      sources[value] = "local";
    }
  }
  return sources;
}

}  // namespace

int RunSettings::Prepare(const Options& options, const SettingsPlan& plan,
                         RunReport& report) {
  if (!options.Live()) {
    try {
      m_scenario = vpltest::sim::Scenario::Load(options.scenario);
    } catch (const vpltest::sim::ScenarioError& error) {
      // The simulator's message names the file, the position and the problem.
      report.Error(std::string("vplhost: scenario: ") + error.what());
      return kExitScenario;
    }
    // A name the plug-in never reads is most often a misspelling that would
    // change the answer without a word.
    for (const std::string& warning : m_scenario->Warnings())
      report.Warning("vplhost: warning: " + warning, {{"kind", "unreadName"}});
  }
  m_scratch.emplace(options.Live());
  if (!m_scratch->IsActive()) {
    report.Error("vplhost: cannot set up the run's settings key: " +
                 m_scratch->Problem());
    return kExitFailure;
  }
  for (const std::string& removed : m_scratch->RemovedKeys()) {
    report.Line(
        "vplhost: removed the scratch key %s of a run that is no longer "
        "alive\n",
        removed.c_str());
  }
  if (!Write(options, plan, report)) return kExitFailure;
  m_sources = SourcesOf(options, plan, Scenario());
  report.Line(options.Live()
                  ? "vplhost: settings from this machine, read into a scratch "
                    "copy: the machine's keys stay unchanged\n"
                  : "vplhost: settings from the scenario\n");
  return kExitSuccess;
}

// The run's settings over what the scratch key holds already (a copy of the
// machine's, or nothing): the scenario's registry and policy values, then
// what the command line says over them.
bool RunSettings::Write(const Options& options, const SettingsPlan& plan,
                        RunReport& report) const {
  const auto failed = [&](const std::string& name, LSTATUS status) {
    report.Error("vplhost: cannot write " + name + ": error " +
                 std::to_string(status));
    return false;
  };
  const vpltest::sim::Scenario* scenario = Scenario();
  if (scenario) {
    for (const vpltest::sim::RegistryValue& value :
         scenario->RegistryValues()) {
      const LSTATUS status = m_scratch->Set(value);
      if (status != ERROR_SUCCESS)
        return failed(vpltest::sim::WideToUtf8(value.key + L"\\" + value.name),
                      status);
    }
  }
  LSTATUS status = ERROR_SUCCESS;
  if (options.monitor || ReplayTurnsMonitoringOn(options, scenario))
    status =
        m_scratch->SetString("MonitorJobs", options.monitor.value_or("ON"));
  if (status != ERROR_SUCCESS) return failed("MonitorJobs", status);
  if (options.window)
    status = m_scratch->SetDword("PendingSMSJobWindowMins", *options.window);
  if (status != ERROR_SUCCESS) return failed("PendingSMSJobWindowMins", status);
  if (options.maintenanceWindows)
    status =
        m_scratch->SetString("MaintenanceWindows", *options.maintenanceWindows);
  if (status != ERROR_SUCCESS) return failed("MaintenanceWindows", status);
  if (SetsDebug(options, plan, scenario)) {
    const bool verbose = options.verbose || plan.alwaysVerbose;
    status = m_scratch->SetDword("debug", verbose ? plan.verboseBits : 0);
  }
  if (status != ERROR_SUCCESS) return failed("debug", status);
  return true;
}

}  // namespace vplhost
