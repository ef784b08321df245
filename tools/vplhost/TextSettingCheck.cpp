#include "tools/vplhost/TextSettingCheck.h"

#include <windows.h>

#include "common/RegistryParameters.h"
#include "tools/vplhost/TextSettingLimits.h"

namespace vplhost {
namespace {

constexpr const char* kKeys[] = {"Software\\Policies\\Tarn\\Vesperline",
                                 "Software\\Tarn\\Vesperline"};

// The stored text's length as the plug-in's narrow reads see it.
DWORD StoredLength(const char* key, const char* name) {
  DWORD size = 0;
  if (::RegGetValueA(HKEY_LOCAL_MACHINE, key, name, RRF_RT_ANY, nullptr,
                     nullptr, &size) != ERROR_SUCCESS) {
    return 0;
  }
  return size > 0 ? size - 1 : 0;
}

}  // namespace

std::vector<LongTextSetting> LongTextSettings() {
  std::vector<LongTextSetting> settings;
  for (const TextSettingLimit& limit : kTextSettingLimits) {
    for (const char* key : kKeys) {
      // The plug-in's own reader decides; read-only, so nothing is written
      // or traced.
      std::string buffer(limit.bufferBytes, '\0');
      const DWORD status = NTarn::GetRegParameter(
          HKEY_LOCAL_MACHINE, key, limit.valueName, REG_SZ, buffer.data(),
          limit.bufferBytes,
          NTarn::reg_flags::kReadOnly | NTarn::reg_flags::kKeepDefault);
      if (status != ERROR_MORE_DATA) continue;
      settings.push_back({key, limit.valueName,
                          StoredLength(key, limit.valueName),
                          limit.bufferBytes - 1});
    }
  }
  return settings;
}

std::string LongTextWarning(const LongTextSetting& setting) {
  return "vplhost: warning: " + setting.key + "\\" + setting.name + " is " +
         std::to_string(setting.length) +
         " characters long; the plug-in reads at most " +
         std::to_string(setting.limit) + " and ignores a longer text";
}

std::vector<std::string> LongTextSettingWarnings() {
  std::vector<std::string> warnings;
  for (const LongTextSetting& setting : LongTextSettings())
    warnings.push_back(LongTextWarning(setting));
  return warnings;
}

}  // namespace vplhost
