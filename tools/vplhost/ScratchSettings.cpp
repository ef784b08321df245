#include "tools/vplhost/ScratchSettings.h"

#include "common/ScopedHandle.h"

namespace vplhost {
namespace {

constexpr char kSettingsKey[] = "Software\\Tarn\\Vesperline";
// Where a run keeps its settings instead of the machine's own, below a key
// of its process's own so that runs side by side keep theirs apart.
constexpr char kScratchKey[] = "Software\\VplHost\\Settings";

}  // namespace

ScratchSettings::ScratchSettings()
    : m_key(std::string(kScratchKey) + "\\" +
            std::to_string(::GetCurrentProcessId())) {
  // What a run that ended without cleaning up left under this number.
  ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, m_key.c_str());
  NTarn::ScopedRegKey scratch;
  if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, m_key.c_str(), 0, nullptr, 0,
                        KEY_ALL_ACCESS, nullptr, scratch.Receive(),
                        nullptr) != ERROR_SUCCESS) {
    return;
  }
  // The system keeps its own duplicate of the key while it stands in.
  m_active = ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, scratch.Get()) ==
             ERROR_SUCCESS;
}

ScratchSettings::~ScratchSettings() {
  if (!m_active) return;
  ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
  ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, m_key.c_str());
  ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, m_key.c_str());
  // The parents go with the last run; another run's key keeps them.
  ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kScratchKey);
  ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\VplHost");
}

LSTATUS ScratchSettings::SetString(const char* name,
                                   const std::string& text) const {
  return ::RegSetKeyValueA(HKEY_LOCAL_MACHINE, kSettingsKey, name, REG_SZ,
                           text.c_str(), static_cast<DWORD>(text.size() + 1));
}

LSTATUS ScratchSettings::SetDword(const char* name, DWORD value) const {
  return ::RegSetKeyValueA(HKEY_LOCAL_MACHINE, kSettingsKey, name, REG_DWORD,
                           &value, sizeof(value));
}

LSTATUS ScratchSettings::Set(const vpltest::sim::RegistryValue& value) const {
  if (value.text) {
    return ::RegSetKeyValueW(
        HKEY_LOCAL_MACHINE, value.key.c_str(), value.name.c_str(), REG_SZ,
        value.text->c_str(),
        static_cast<DWORD>((value.text->size() + 1) * sizeof(wchar_t)));
  }
  const DWORD number = value.number;
  return ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, value.key.c_str(),
                           value.name.c_str(), REG_DWORD, &number,
                           sizeof(number));
}

}  // namespace vplhost
