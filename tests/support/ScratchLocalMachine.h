// Redirects HKEY_LOCAL_MACHINE, for the whole process (the plug-in DLL
// included), to a scratch key of the test prefix while the object lives, so
// that code with fixed settings paths touches nothing real. The scratch key
// goes afterwards.
#pragma once

#include <windows.h>

#include <string>

#include "common/ScopedHandle.h"

namespace vpltest {

class ScratchLocalMachine {
 public:
  ScratchLocalMachine() {
    // An interrupted run's, of the same process number.
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, m_path.c_str());
    NTarn::ScopedRegKey scratch;
    ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, m_path.c_str(), 0, nullptr, 0,
                      KEY_ALL_ACCESS, nullptr, scratch.Receive(), nullptr);
    // The system keeps a duplicate of the handle.
    ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, scratch.Get());
  }
  ScratchLocalMachine(const ScratchLocalMachine&) = delete;
  ScratchLocalMachine& operator=(const ScratchLocalMachine&) = delete;
  ~ScratchLocalMachine() {
    ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, m_path.c_str());
    ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, m_path.c_str());
    ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kParent);  // once no run has its key
  }

  // Below the redirected HKEY_LOCAL_MACHINE; the key is created.
  static void Set(const char* key, const char* name, const std::string& text) {
    ::RegSetKeyValueA(HKEY_LOCAL_MACHINE, key, name, REG_SZ, text.c_str(),
                      static_cast<DWORD>(text.size() + 1));
  }
  static void Set(const char* key, const char* name, DWORD value) {
    ::RegSetKeyValueA(HKEY_LOCAL_MACHINE, key, name, REG_DWORD, &value,
                      sizeof(value));
  }
  static void Delete(const char* key, const char* name) {
    ::RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, key, name);
  }
  // A REG_SZ value's text; "<missing>" when there is none.
  static std::string Get(const char* key, const char* name) {
    char text[1024] = "";
    DWORD size = sizeof(text);
    return ::RegGetValueA(HKEY_LOCAL_MACHINE, key, name, RRF_RT_REG_SZ, nullptr,
                          text, &size) == ERROR_SUCCESS
               ? text
               : "<missing>";
  }

 private:
  static constexpr char kParent[] = "Software\\VplCMgrTestsScratchMachine";
  // One key per process, so that test programs run side by side keep apart.
  const std::string m_path =
      std::string(kParent) + "\\" + std::to_string(::GetCurrentProcessId());
};

}  // namespace vpltest
