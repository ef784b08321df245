#include "tools/vplhost/PluginRun.h"

#include <cstdio>
#include <exception>
#include <optional>
#include <string>

#include "tests/simclient/SimulatedClient.h"
#include "tools/vplhost/ComApartment.h"
#include "tools/vplhost/ConsoleText.h"
#include "tools/vplhost/ExitCode.h"
#include "tools/vplhost/PluginLibrary.h"
#include "tools/vplhost/PluginLocation.h"
#include "tools/vplhost/StatedBattery.h"

namespace vplhost {
namespace {

int RunPlugin(const Options& options, const SettingsPlan& plan,
              const PluginStep& step, RunReport& report) {
  const std::wstring path = PluginPath(options);
  RunSettings settings;
  const int prepared = settings.Prepare(options, plan, report);
  if (prepared != kExitSuccess) return prepared;
  const vpltest::sim::HostFacts facts = settings.Scenario()
                                            ? settings.Scenario()->Host()
                                            : vpltest::sim::HostFacts{};

  PluginLibrary library(path, report, PluginOrigin(options));
  if (!library.IsUsable()) return kExitPlugin;
  // Goes before the library does: the patched table lives in the module.
  StatedBattery battery;
  if (facts.battery) {
    const HRESULT hr = battery.Install(library.Module(), *facts.battery);
    if (FAILED(hr)) {
      report.Error(
          "vplhost: cannot show the plug-in the scenario's battery "
          "(its import of CallNtPowerInformation): " +
          HResultText(hr));
      return kExitFailure;
    }
    report.Line("vplhost: the plug-in sees the scenario's battery: %s\n",
                BatteryStateName(*facts.battery));
  }
  const ComApartment apartment;
  if (!apartment.Entered()) return kExitFailure;
  int result = kExitSuccess;
  try {
    std::optional<vpltest::SimulatedClient> client;
    if (settings.Scenario()) {
      client.emplace(*settings.Scenario());
      report.Line("vplhost: simulated ConfigMgr client from %s\n",
                  Narrow(options.scenario).c_str());
    } else {
      report.Line(
          "vplhost: this machine's WMI (its ConfigMgr client, or none), "
          "battery and chassis\n");
    }
    std::optional<DWORD> idle;
    if (facts.idleMilliseconds) idle = *facts.idleMilliseconds;
    HostSession host(report, idle);
    result = host.Start(library);
    if (result == kExitSuccess) {
      PluginRun run{host, report, settings, battery.IsInstalled()};
      result = step(run);
    }
    if (result == kExitSuccess || result == kExitObjection) host.Stop();
  } catch (const vpltest::ScenarioError& error) {
    // The simulator's message names the file, the position and the problem.
    report.Error(std::string("vplhost: scenario: ") + error.what());
    result = kExitScenario;
  } catch (const std::exception& error) {
    report.Error(std::string("vplhost: ") + error.what());
    result = kExitFailure;
  }
  const bool unloadable = library.ReportCanUnloadNow(report);
  if (result != kExitSuccess) return result;
  return unloadable ? kExitSuccess : kExitPlugin;
}

}  // namespace

int RunPluginCommand(const Options& options, const char* commandName,
                     const SettingsPlan& plan, const PluginStep& step) {
  RunReport report(options.json, commandName);
  report.SetScenario(Narrow(options.scenario));
  report.Set("live", options.Live());
  RunReport::SetCurrent(&report);
  const int result = RunPlugin(options, plan, step, report);
  RunReport::SetCurrent(nullptr);
  if (report.IsJson()) {
    fputs(report.Json(result).c_str(), stdout);
    fflush(stdout);
  }
  return result;
}

}  // namespace vplhost
