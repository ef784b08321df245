// `vplhost capture`: this machine, or a scenario's simulated client with its
// settings in the scratch key, read as a machine is read and written as a
// scenario.
#include <optional>
#include <string>

#include "tests/simclient/SimulatedClient.h"
#include "tools/vplhost/ComApartment.h"
#include "tools/vplhost/Commands.h"
#include "tools/vplhost/ConsoleText.h"
#include "tools/vplhost/ExitCode.h"
#include "tools/vplhost/RunSettings.h"
#include "tools/vplhost/ScenarioCapture.h"

namespace vplhost {
namespace {

std::string CheckCapture(const Options& options) {
  if (!options.out) return "capture needs --out FILE";
  return std::string();
}

int RunCapture(const Options& options) {
  RunReport report(false, "capture");
  RunSettings settings;
  if (!options.Live()) {
    SettingsPlan plan;
    plan.recordOnly = true;
    const int prepared = settings.Prepare(options, plan, report);
    if (prepared != kExitSuccess) return prepared;
  }
  const ComApartment apartment;
  if (!apartment.Entered()) return kExitFailure;
  int result = kExitSuccess;
  try {
    std::optional<vpltest::SimulatedClient> client;
    std::optional<vpltest::sim::HostFacts::Battery> battery;
    std::string comment = "Captured from this machine. ";
    if (settings.Scenario()) {
      client.emplace(*settings.Scenario());
      battery = settings.Scenario()->Host().battery;
      comment = "Captured from the simulated client of " +
                Narrow(options.scenario) + ". ";
    }
    nlohmann::ordered_json scenario;
    {
      // The product's WMI layer logs every namespace it cannot reach.
      const RunReport::MutedLog muted;
      scenario = CaptureScenario(comment, battery);
    }
    const DWORD status = WriteScenario(*options.out, scenario);
    if (status != ERROR_SUCCESS) {
      report.Error("vplhost: cannot write " + Narrow(*options.out) + ": " +
                   HResultText(HRESULT_FROM_WIN32(status)));
      result = kExitFailure;
    } else {
      report.Line("vplhost: captured into %s\n", Narrow(*options.out).c_str());
    }
  } catch (const vpltest::ScenarioError& error) {
    report.Error(std::string("vplhost: scenario: ") + error.what());
    result = kExitScenario;
  }
  return result;
}

}  // namespace

const Command kCaptureCommand = {
    L"capture",
    "vplhost capture --out FILE [--scenario FILE]\n",
    "Writes what the plug-in reads on this machine (or, with --scenario,\n"
    "from the simulated client) as a scenario to replay elsewhere, in UTF-8.\n",
    kOutOption | kScenarioOption,
    false,
    CheckCapture,
    RunCapture,
};

}  // namespace vplhost
