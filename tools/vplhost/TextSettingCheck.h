// Text settings stored longer than the plug-in reads. The plug-in reads such
// a text not at all and goes on with its previous or default text, without a
// line in its log, so vplhost status names them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace vplhost {

struct LongTextSetting {
  std::string key;  // below HKEY_LOCAL_MACHINE
  std::string name;
  DWORD length;  // characters stored
  DWORD limit;   // characters the plug-in reads at most
};

// Each text setting below the settings key or its policy twin (of
// HKEY_LOCAL_MACHINE as this process sees it) that the plug-in's own reader
// turns away as too long, policy first, in the plug-in's order of settings.
std::vector<LongTextSetting> LongTextSettings();
// The warning line of one.
std::string LongTextWarning(const LongTextSetting& setting);
// One warning line for each of them.
std::vector<std::string> LongTextSettingWarnings();

}  // namespace vplhost
