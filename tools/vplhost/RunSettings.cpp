#include "tools/vplhost/RunSettings.h"

#include <string>

#include "observer/ObserverSettings.h"
#include "tools/vplhost/ExitCode.h"

namespace vplhost {
namespace {

bool ScenarioSets(const vpltest::sim::Scenario& scenario, const char* name) {
  for (const vpltest::sim::RegistryValue& value : scenario.RegistryValues()) {
    if (_wcsicmp(value.key.c_str(), L"Software\\Tarn\\Vesperline") == 0 &&
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

// Where each of the observer's settings comes from, read from the run's
// keys before the plug-in reads (and writes back) any of them.
SettingSources SourcesOf(const Options& options,
                         const vpltest::sim::Scenario* scenario) {
  SettingSources sources;
  for (const char* name :
       {"MonitorJobs", "PendingSMSJobWindowMins", "AllowedShutdownJobStates",
        "AllowedShutdownUpdateStates", "MaintenanceWindows"}) {
    const std::string value = name;
    switch (ObserverSettings::SourceOf(name)) {
      case ObserverSettings::Source::kPolicy:
        sources[value] = "policy";
        break;
      case ObserverSettings::Source::kLocal:
        if (value == "MonitorJobs" && options.monitor) {
          sources[value] = "--monitor";
        } else if (value == "MonitorJobs" &&
                   ReplayTurnsMonitoringOn(options, scenario)) {
          sources[value] = "replay default";
        } else if (value == "PendingSMSJobWindowMins" && options.window) {
          sources[value] = "--window";
        } else if (value == "MaintenanceWindows" &&
                   options.maintenanceWindows) {
          sources[value] = "--maintenance-windows";
        } else {
          sources[value] = "local";
        }
        break;
      case ObserverSettings::Source::kDefault:
        sources[value] = "default";
        break;
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
  }
  m_scratch.emplace(options.Live());
  if (!m_scratch->IsActive()) {
    report.Error("vplhost: cannot set up the run's settings key: " +
                 m_scratch->Problem());
    return kExitFailure;
  }
  if (!Write(options, plan, report)) return kExitFailure;
  m_sources = SourcesOf(options, Scenario());
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
  if (plan.recordOnly) return true;
  // The verbose switch of the plug-in's diagnostic lines. A live run keeps
  // the machine's switch unless told.
  const bool verbose = options.verbose || plan.alwaysVerbose;
  if (verbose || (scenario && !ScenarioSets(*scenario, "debug")))
    status = m_scratch->SetDword("debug", verbose ? plan.verboseBits : 0);
  if (status != ERROR_SUCCESS) return failed("debug", status);
  return true;
}

}  // namespace vplhost
