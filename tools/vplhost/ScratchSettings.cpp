#include "tools/vplhost/ScratchSettings.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "common/ScopedHandle.h"

namespace vplhost {
namespace {

constexpr char kSettingsKey[] = "Software\\Tarn\\Vesperline";
constexpr char kPolicyKey[] = "Software\\Policies\\Tarn\\Vesperline";
// Where runs keep their settings instead of the machine's own, each below a
// key of its own so that runs side by side keep theirs apart.
constexpr char kScratchKey[] = "Software\\VplHost\\Settings";

// When the process started, as its run's key records it; false when no such
// process is alive.
bool ProcessStartTime(DWORD processId, unsigned long long* started) {
  const NTarn::ScopedHandle process(
      ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  FILETIME created;
  FILETIME exited;
  FILETIME kernel;
  FILETIME user;
  if (!process.IsValid() ||
      !::GetProcessTimes(process.Get(), &created, &exited, &kernel, &user))
    return false;
  *started = (static_cast<unsigned long long>(created.dwHighDateTime) << 32) |
             created.dwLowDateTime;
  return true;
}

// "<process id>-<start time>": the process id alone would be given to
// another process once the run has ended.
std::string RunKeyName(DWORD processId, unsigned long long started) {
  char name[48];
  snprintf(name, sizeof(name), "%lu-%016llx",
           static_cast<unsigned long>(processId), started);
  return name;
}

// Whether the run that named its key `name` is still going.
bool RunIsAlive(const std::string& name) {
  char* end = nullptr;
  const unsigned long processId = std::strtoul(name.c_str(), &end, 10);
  unsigned long long started = 0;
  if (end == name.c_str() ||
      !ProcessStartTime(static_cast<DWORD>(processId), &started))
    return false;
  return name == RunKeyName(static_cast<DWORD>(processId), started);
}

LSTATUS DeleteKeyTree(const std::string& path) {
  const LSTATUS status = ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, path.c_str());
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return status;
  return ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, path.c_str());
}

}  // namespace

ScratchSettings::ScratchSettings(bool copyMachine) {
  unsigned long long started = 0;
  const DWORD self = ::GetCurrentProcessId();
  if (!ProcessStartTime(self, &started)) started = ::GetTickCount64();
  m_key = std::string(kScratchKey) + "\\" + RunKeyName(self, started);
  RemoveAbandonedKeys();
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
        DeleteKeyTree(m_key);
        return;
      }
    }
  }
  // The system keeps its own duplicate of the key while it stands in.
  m_active = ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, scratch.Get()) ==
             ERROR_SUCCESS;
  if (!m_active) m_problem = "HKEY_LOCAL_MACHINE cannot be redirected";
}

// A run that died (a crash, a killed autoshutdown) could not remove its key;
// the next run does, and leaves the keys of runs still going alone.
void ScratchSettings::RemoveAbandonedKeys() {
  std::vector<std::string> abandoned;
  {
    NTarn::ScopedRegKey runs;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kScratchKey, 0, KEY_READ,
                        runs.Receive()) != ERROR_SUCCESS)
      return;
    for (DWORD i = 0;; ++i) {
      char name[256];
      DWORD length = sizeof(name);
      if (::RegEnumKeyExA(runs.Get(), i, name, &length, nullptr, nullptr,
                          nullptr, nullptr) != ERROR_SUCCESS)
        break;
      if (!RunIsAlive(name)) abandoned.push_back(name);
    }
  }
  for (const std::string& name : abandoned) {
    if (DeleteKeyTree(std::string(kScratchKey) + "\\" + name) == ERROR_SUCCESS)
      m_removed.push_back(name);
  }
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
  DeleteKeyTree(m_key);
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
