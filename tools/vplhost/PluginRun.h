// A run of the plug-in as the host service runs it: loaded from its path,
// the scenario's battery shown to it, the simulated client (or this
// machine's WMI) in place, initialised with vplhost's services; the command
// does its part in between, and the run ends by releasing the plug-in and
// reporting whether the DLL may unload.
#pragma once

#include <functional>

#include "tools/vplhost/CommandLine.h"
#include "tools/vplhost/HostSession.h"
#include "tools/vplhost/RunReport.h"
#include "tools/vplhost/RunSettings.h"

namespace vplhost {

struct PluginRun {
  HostSession& host;
  RunReport& report;
  const RunSettings& settings;
  // Whether the plug-in sees the scenario's battery instead of the machine's.
  bool batteryStated;
};

// The command's part once the plug-in is initialised; an exit code.
using PluginStep = std::function<int(PluginRun& run)>;

// The whole run with its report: as text while it happens, or with --json
// one document on standard output at the end, whatever the outcome.
int RunPluginCommand(const Options& options, const char* commandName,
                     const SettingsPlan& plan, const PluginStep& step);

}  // namespace vplhost
