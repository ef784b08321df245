// `vplhost status`: has each observer load its settings and log its status
// with the plug-in's verbose lines on.
#include "tools/vplhost/Commands.h"
#include "tools/vplhost/ExitCode.h"
#include "tools/vplhost/PluginRun.h"
#include "tools/vplhost/SettingsReport.h"

namespace vplhost {
namespace {

int RunStatus(const Options& options) {
  SettingsPlan plan;
  plan.alwaysVerbose = true;  // status always explains itself
  return RunPluginCommand(options, "status", plan, [](PluginRun& run) {
    const int result = run.host.LogObserverStatus(0);
    if (result == kExitSuccess)
      ReportSettings(run.settings.Sources(), run.report);
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
