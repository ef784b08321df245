// HKEY_LOCAL_MACHINE redirected, for this process, to a scratch key holding
// a run's settings, so that a run with a scenario never changes the
// machine's own.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tests/simclient/Scenario.h"

namespace vplhost {

class ScratchSettings {
 public:
  // With `copyMachine` the stand-in starts as a copy of this machine's
  // settings and policy keys, taken before it stands in; otherwise empty.
  explicit ScratchSettings(bool copyMachine = false);
  ScratchSettings(const ScratchSettings&) = delete;
  ScratchSettings& operator=(const ScratchSettings&) = delete;
  ~ScratchSettings();

  bool IsActive() const { return m_active; }
  // What went wrong when it is not active.
  const std::string& Problem() const { return m_problem; }
  // The keys of runs no longer alive that this one removed.
  const std::vector<std::string>& RemovedKeys() const { return m_removed; }
  // Values of the plug-in's settings key.
  LSTATUS SetString(const char* name, const std::string& text) const;
  LSTATUS SetDword(const char* name, DWORD value) const;
  // A value a scenario states, below the stand-in HKEY_LOCAL_MACHINE.
  LSTATUS Set(const vpltest::sim::RegistryValue& value) const;

 private:
  // Copies `path` of the real HKEY_LOCAL_MACHINE below the scratch key.
  LSTATUS CopyMachineKey(HKEY scratch, const char* path);
  void RemoveAbandonedKeys();

  std::string m_key;
  std::vector<std::string> m_removed;
  bool m_active = false;
  std::string m_problem;
};

}  // namespace vplhost
