// `vplhost status`: has each observer load its settings and log its status
// with the plug-in's verbose lines on.
#include <string>

#include "tools/vplhost/Commands.h"
#include "tools/vplhost/PluginRun.h"
#include "tools/vplhost/TextSettingCheck.h"

namespace vplhost {
namespace {

int RunStatus(const Options& options) {
  SettingsPlan plan;
  plan.alwaysVerbose = true;  // status always explains itself
  return RunPluginCommand(options, "status", plan, [](PluginRun& run) {
    for (const std::string& warning : LongTextSettingWarnings())
      run.report.Line("%s\n", warning.c_str());
    return run.host.LogObserverStatus(0);
  });
}

}  // namespace

const Command kStatusCommand = {
    L"status",
    "vplhost status [--scenario FILE] [--dll PATH] [--json]\n",
    "Has each observer the plug-in registers load its settings and log its\n"
    "status with the plug-in's verbose lines on, and warns about a text\n"
    "setting longer than the plug-in reads.\n",
    kScenarioOption | kDllOption | kJsonOption,
    false,
    nullptr,
    RunStatus,
};

}  // namespace vplhost
