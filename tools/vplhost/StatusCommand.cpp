// `vplhost status`: has each observer load its settings and log its status
// with the plug-in's verbose lines on.
#include <string>

#include "common/RegistryParameters.h"
#include "observer/ObserverSettings.h"
#include "tools/vplhost/Commands.h"
#include "tools/vplhost/ExitCode.h"
#include "tools/vplhost/PluginRun.h"
#include "tools/vplhost/SettingsReport.h"

namespace vplhost {
namespace {

// The maintenance-window switch as the observer loaded it, and where it came
// from: the plug-in's own status lines leave it out while it is off.
void ReportMaintenanceWindows(PluginRun& run) {
  ObserverSettings settings;
  {
    const RunReport::MutedLog muted;
    settings.Load(NTarn::reg_flags::kReadOnly);
  }
  const auto found = run.settings.Sources().find("MaintenanceWindows");
  const std::string source =
      found == run.settings.Sources().end() ? "default" : found->second;
  run.report.Line("vplhost: MaintenanceWindows \"%s\" (%s): %s\n",
                  settings.MaintenanceWindows(), source.c_str(),
                  settings.MaintenanceWindowsOn()
                      ? "the questions follow the client's maintenance windows"
                      : "maintenance windows are not followed");
  run.report.Set("maintenanceWindows",
                 {{"value", settings.MaintenanceWindows()},
                  {"source", source},
                  {"on", settings.MaintenanceWindowsOn()}});
}

int RunStatus(const Options& options) {
  SettingsPlan plan;
  plan.alwaysVerbose = true;  // status always explains itself
  return RunPluginCommand(options, "status", plan, [](PluginRun& run) {
    const int result = run.host.LogObserverStatus(0);
    if (result == kExitSuccess)
      ReportSettings(run.settings.Sources(), run.report);
    ReportMaintenanceWindows(run);
    return result;
  });
}

}  // namespace

const Command kStatusCommand = {
    L"status",
    "vplhost status [--scenario FILE] [--dll PATH]\n"
    "               [--maintenance-windows TEXT] [--json]\n",
    "Has each observer the plug-in registers load its settings and log its\n"
    "status with the plug-in's verbose lines on, and warns about a text\n"
    "setting longer than the plug-in reads.\n",
    kScenarioOption | kDllOption | kMaintenanceWindowsOption | kJsonOption,
    false,
    nullptr,
    RunStatus,
};

}  // namespace vplhost
