// The settings a run's plug-in (or vplhost's own use of the product code)
// reads: a scratch key standing in for HKEY_LOCAL_MACHINE holding a copy of
// this machine's keys for a live run, a scenario's values for a replay, and
// the command line's over either; and where each setting came from.
#pragma once

#include <windows.h>

#include <optional>

#include "tests/simclient/Scenario.h"
#include "tools/vplhost/CommandLine.h"
#include "tools/vplhost/DecisionExplanation.h"
#include "tools/vplhost/RunReport.h"
#include "tools/vplhost/ScratchSettings.h"

namespace vplhost {

// How a command uses the settings.
struct SettingsPlan {
  // The plug-in's verbose bits a --verbose run sets in "debug".
  DWORD verboseBits = 0x10;
  // Sets them whatever the options say (status explains itself).
  bool alwaysVerbose = false;
  // Writes the scenario's values and the command line's alone, never
  // "debug": a capture records what the machine holds.
  bool recordOnly = false;
};

class RunSettings {
 public:
  RunSettings() = default;
  RunSettings(const RunSettings&) = delete;
  RunSettings& operator=(const RunSettings&) = delete;

  // Loads the scenario, if any, and sets up the scratch key; an exit code,
  // the problem reported.
  int Prepare(const Options& options, const SettingsPlan& plan,
              RunReport& report);

  // Null for a live run.
  const vpltest::sim::Scenario* Scenario() const {
    return m_scenario ? &*m_scenario : nullptr;
  }
  const SettingSources& Sources() const { return m_sources; }

 private:
  bool Write(const Options& options, const SettingsPlan& plan,
             RunReport& report) const;

  std::optional<vpltest::sim::Scenario> m_scenario;
  std::optional<ScratchSettings> m_scratch;
  SettingSources m_sources;
};

}  // namespace vplhost
