// `vplhost autoshutdown`: raises the host's auto-shutdown event and plays
// the host's part in real time.
#include <string>

#include "tools/vplhost/Commands.h"
#include "tools/vplhost/PluginRun.h"

namespace vplhost {
namespace {

std::string CheckAutoshutdown(const Options& options) {
  // A live run works on a copy of the machine's settings, as they are.
  if (options.Live() && options.Tuned())
    return "--monitor, --window and --verbose need --scenario FILE";
  return std::string();
}

int RunAutoshutdown(const Options& options) {
  SettingsPlan plan;
  // Every attempt and its completion besides the verbose lines.
  plan.verboseBits = 0x111;
  return RunPluginCommand(options, "autoshutdown", plan, [](PluginRun& run) {
    run.host.LoadObserverSettings(0);
    const int result = run.host.RunAutoshutdown(run.batteryStated);
    run.report.Line("vplhost: releasing the plug-in and its subscriptions\n");
    return result;
  });
}

}  // namespace

const Command kAutoshutdownCommand = {
    L"autoshutdown",
    "vplhost autoshutdown [--scenario FILE] [--dll PATH] [--monitor TEXT]\n"
    "                     [--window MINUTES] [--verbose]\n",
    "Raises the host's auto-shutdown event and plays the host's part in real\n"
    "time; without --scenario the machine's client and a scratch copy of its\n"
    "settings apply, so the run changes nothing on the machine.\n"
    "Reads the host's commands, one a line, from standard input (type help).\n",
    kScenarioOption | kDllOption | kMonitorOption | kWindowOption |
        kVerboseOption,
    false,
    CheckAutoshutdown,
    RunAutoshutdown,
};

}  // namespace vplhost
