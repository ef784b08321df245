// HKEY_LOCAL_MACHINE redirected, for this process, to a scratch key holding
// a run's settings, so that a run with a scenario never changes the
// machine's own.
#pragma once

#include <windows.h>

#include <string>

#include "tests/simclient/Scenario.h"

namespace vplhost {

class ScratchSettings {
 public:
  ScratchSettings();
  ScratchSettings(const ScratchSettings&) = delete;
  ScratchSettings& operator=(const ScratchSettings&) = delete;
  ~ScratchSettings();

  bool IsActive() const { return m_active; }
  // Values of the plug-in's settings key.
  LSTATUS SetString(const char* name, const std::string& text) const;
  LSTATUS SetDword(const char* name, DWORD value) const;
  // A value a scenario states, below the stand-in HKEY_LOCAL_MACHINE.
  LSTATUS Set(const vpltest::sim::RegistryValue& value) const;

 private:
  const std::string m_key;
  bool m_active = false;
};

}  // namespace vplhost
