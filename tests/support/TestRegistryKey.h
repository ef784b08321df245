// A registry key owned by one test: created on construction (unless asked
// not to) and removed afterwards together with every key of its path that did
// not exist before. Below HKEY_LOCAL_MACHINE of the test prefix unless another
// root is given.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "common/ScopedHandle.h"

namespace vpltest {

// "Software\VplCMgrTests\<name of the running test>".
std::string TestKeyPath();

class TestRegistryKey {
 public:
  explicit TestRegistryKey(std::string path, bool create = true,
                           HKEY root = HKEY_LOCAL_MACHINE);
  TestRegistryKey(const TestRegistryKey&) = delete;
  TestRegistryKey& operator=(const TestRegistryKey&) = delete;
  ~TestRegistryKey();

  HKEY Root() const { return m_root; }
  const std::string& Path() const { return m_path; }
  const char* c_str() const { return m_path.c_str(); }
  bool Exists() const;
  // `relative` ("A\B") below the key.
  bool HasSubkey(const std::string& relative) const;
  void CreateSubkey(const std::string& relative) const;
  void CreateSubkey(const std::wstring& relative) const;

  // The key opened with `access`; empty when it does not open.
  NTarn::ScopedRegKey Open(REGSAM access = KEY_ALL_ACCESS) const;
  // A handle the key had until it was closed again: every call through it
  // fails with ERROR_INVALID_HANDLE.
  HKEY ClosedHandle() const;
  // Replaces the DACL of `relative` ("" for the key itself) with one granting
  // the process's account `access` alone; with 0 it grants nobody anything.
  void RestrictAccess(const std::string& relative, REGSAM access) const;

  void SetRaw(const std::string& name, DWORD type, const void* data,
              DWORD size) const;
  void SetDword(const std::string& name, DWORD value) const;
  void SetString(const std::string& name, const std::string& text,
                 DWORD type = REG_SZ) const;

  bool HasValue(const std::string& name) const;
  DWORD TypeOf(const std::string& name) const;
  DWORD ReadDword(const std::string& name) const;
  std::string ReadString(const std::string& name) const;

 private:
  std::string Below(const std::string& relative) const;

  HKEY m_root;
  std::string m_path;
  // Keys of the path, outermost first, that this object created.
  std::vector<std::string> m_created;
};

// The user SID of the process token.
std::vector<BYTE> ProcessUserSid();

}  // namespace vpltest
