// The battery a scenario states, shown to the plug-in in place of this
// machine's own: the plug-in's import of CallNtPowerInformation is pointed at
// a stand-in that answers SystemBatteryState from the stated state and hands
// every other information level to the real function.
#pragma once

#include <windows.h>

#include "tests/simclient/Scenario.h"
#include "tools/vplhost/ImportPatch.h"

namespace vplhost {

class StatedBattery {
 public:
  using State = vpltest::sim::HostFacts::Battery;

  StatedBattery() = default;
  StatedBattery(const StatedBattery&) = delete;
  StatedBattery& operator=(const StatedBattery&) = delete;
  // Gives the plug-in the real function back; `module` must still be loaded.
  ~StatedBattery() = default;

  // Starts answering `module`'s battery questions with `state`, and those of
  // the product code linked into vplhost, which explains the plug-in's
  // answers. One module per process at a time.
  HRESULT Install(HMODULE module, State state);
  // A later change, such as the host reporting a switch to battery; does
  // nothing before Install.
  static void Change(State state);
  bool IsInstalled() const { return m_installed; }

 private:
  ImportPatch m_patch;
  ImportPatch m_ownPatch;
  bool m_installed = false;
};

// The state in words, as a scenario writes it.
const char* BatteryStateName(StatedBattery::State state);

}  // namespace vplhost
