#include "tools/vplhost/ScratchSettings.h"

#include "common/ScopedHandle.h"

namespace vplhost {
namespace {

constexpr char kSettingsKey[] = "Software\\Tarn\\Vesperline";
constexpr char kPolicyKey[] = "Software\\Policies\\Tarn\\Vesperline";
// Where a run keeps its settings instead of the machine's own, below a key
// of its process's own so that runs side by side keep theirs apart.
constexpr char kScratchKey[] = "Software\\VplHost\\Settings";

}  // namespace

ScratchSettings::ScratchSettings(bool copyMachine)
    : m_key(std::string(kScratchKey) + "\\" +
            std::to_string(::GetCurrentProcessId())) {
  // What a run that ended without cleaning up left under this number.
  ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, m_key.c_str());
  NTarn::ScopedRegKey scratch;
  if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, m_key.c_str(), 0, nullptr, 0,
                        KEY_ALL_ACCESS, nullptr, scratch.Receive(),
                        nullptr) != ERROR_SUCCESS) {
    m_problem = "the scratch key cannot be created";
    return;
  }
  if (copyMachine) {
    for (const char* path : {kSettingsKey, kPolicyKey}) {
      const LSTATUS status = CopyMachineKey(scratch.Get(), path);
      if (status != ERROR_SUCCESS) {
        m_problem = std::string("HKEY_LOCAL_MACHINE\\") + path +
                    " cannot be copied: error " + std::to_string(status);
        ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, m_key.c_str());
        ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, m_key.c_str());
        return;
      }
    }
  }
  // The system keeps its own duplicate of the key while it stands in.
  m_active = ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, scratch.Get()) ==
             ERROR_SUCCESS;
  if (!m_active) m_problem = "HKEY_LOCAL_MACHINE cannot be redirected";
}

// Read only: the machine's key is opened for reading and nothing of it is
// written. A key the machine lacks stays missing in the copy too.
LSTATUS ScratchSettings::CopyMachineKey(HKEY scratch, const char* path) {
  NTarn::ScopedRegKey source;
  LSTATUS status =
      ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, source.Receive());
  if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (status != ERROR_SUCCESS) return status;
  NTarn::ScopedRegKey target;
  status = ::RegCreateKeyExA(scratch, path, 0, nullptr, 0, KEY_ALL_ACCESS,
                             nullptr, target.Receive(), nullptr);
  if (status != ERROR_SUCCESS) return status;
  return ::RegCopyTreeA(source.Get(), nullptr, target.Get());
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
