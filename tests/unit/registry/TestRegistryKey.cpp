#include "tests/unit/registry/TestRegistryKey.h"

#include <gtest/gtest.h>

#include "common/Logging.h"

namespace vpltest {
namespace {

bool KeyExists(const std::string& path) {
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return false;
  }
  ::RegCloseKey(key);
  return true;
}

}  // namespace

TestRegistryKey::TestRegistryKey(std::string path, bool create)
    : path_(std::move(path)) {
  // Remember which keys of the path are new, so that exactly those go.
  for (size_t end = path_.find('\\');; end = path_.find('\\', end + 1)) {
    const std::string prefix = path_.substr(0, end);
    if (!KeyExists(prefix)) created_.push_back(prefix);
    if (end == std::string::npos) break;
  }
  // A leftover of an interrupted run is not this test's starting point.
  ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, path_.c_str());
  ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, path_.c_str());
  if (created_.empty() || created_.back() != path_) created_.push_back(path_);
  if (!create) return;
  HKEY key = nullptr;
  EXPECT_EQ(ERROR_SUCCESS,
            ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path_.c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr));
  if (key) ::RegCloseKey(key);
}

TestRegistryKey::~TestRegistryKey() {
  ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, path_.c_str());
  for (auto it = created_.rbegin(); it != created_.rend(); ++it) {
    // Fails, and so keeps the key, when something else lives below it.
    ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, it->c_str());
  }
}

bool TestRegistryKey::Exists() const { return KeyExists(path_); }

void TestRegistryKey::SetRaw(const std::string& name, DWORD type,
                             const void* data, DWORD size) const {
  ASSERT_EQ(ERROR_SUCCESS, ::RegSetKeyValueA(HKEY_LOCAL_MACHINE, path_.c_str(),
                                             name.c_str(), type, data, size));
}

void TestRegistryKey::SetDword(const std::string& name, DWORD value) const {
  SetRaw(name, REG_DWORD, &value, sizeof(value));
}

void TestRegistryKey::SetString(const std::string& name,
                                const std::string& text, DWORD type) const {
  SetRaw(name, type, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

bool TestRegistryKey::HasValue(const std::string& name) const {
  return ::RegGetValueA(HKEY_LOCAL_MACHINE, path_.c_str(), name.c_str(),
                        RRF_RT_ANY | RRF_NOEXPAND, nullptr, nullptr,
                        nullptr) == ERROR_SUCCESS;
}

DWORD TestRegistryKey::TypeOf(const std::string& name) const {
  DWORD type = REG_NONE;
  ::RegGetValueA(HKEY_LOCAL_MACHINE, path_.c_str(), name.c_str(),
                 RRF_RT_ANY | RRF_NOEXPAND, &type, nullptr, nullptr);
  return type;
}

DWORD TestRegistryKey::ReadDword(const std::string& name) const {
  DWORD value = 0xDEADBEEF;
  DWORD size = sizeof(value);
  EXPECT_EQ(ERROR_SUCCESS,
            ::RegGetValueA(HKEY_LOCAL_MACHINE, path_.c_str(), name.c_str(),
                           RRF_RT_REG_DWORD, nullptr, &value, &size));
  return value;
}

std::string TestRegistryKey::ReadString(const std::string& name) const {
  char text[2048] = "";
  DWORD size = sizeof(text);
  EXPECT_EQ(ERROR_SUCCESS,
            ::RegGetValueA(HKEY_LOCAL_MACHINE, path_.c_str(), name.c_str(),
                           RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                           nullptr, text, &size));
  return text;
}

}  // namespace vpltest
