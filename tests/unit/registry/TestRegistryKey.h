// A key of the test prefix's HKEY_LOCAL_MACHINE owned by one test: created on
// construction (unless asked not to) and removed afterwards together with
// every key of its path that did not exist before.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tests/support/LogCapture.h"

namespace vpltest {

class TestRegistryKey {
 public:
  explicit TestRegistryKey(std::string path, bool create = true);
  TestRegistryKey(const TestRegistryKey&) = delete;
  TestRegistryKey& operator=(const TestRegistryKey&) = delete;
  ~TestRegistryKey();

  const std::string& Path() const { return path_; }
  const char* c_str() const { return path_.c_str(); }
  bool Exists() const;

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
  std::string path_;
  // Keys of the path, outermost first, that this object created.
  std::vector<std::string> created_;
};

}  // namespace vpltest
