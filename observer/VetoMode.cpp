#include "observer/VetoMode.h"

#include <windows.h>

#include <cstring>

#include "common/RegistryParameters.h"

namespace {

constexpr char kSettingsKey[] = "Software\\Tarn\\Vesperline";
// "ENFORCE" or "REPORT" with the terminator, and room to spare.
constexpr DWORD kVetoModeBytes = 16;

}  // namespace

bool VetoModeIsReportOnly() {
  char mode[kVetoModeBytes] = "ENFORCE";
  NTarn::RegGetPolicyParameter(
      HKEY_LOCAL_MACHINE, kSettingsKey, "VetoMode", REG_SZ, mode, sizeof(mode),
      NTarn::reg_flags::kReadOnly | NTarn::reg_flags::kKeepDefault);
  mode[kVetoModeBytes - 1] = '\0';
  return _stricmp(mode, "REPORT") == 0;
}
