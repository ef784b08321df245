#include "tests/support/ScratchLocalMachine.h"

#include <gtest/gtest.h>

namespace vpltest {
namespace {

// Below the real HKEY_LOCAL_MACHINE of the test prefix.
constexpr char kScratchPath[] = "Software\\VplCMgrTests\\ScratchLocalMachine";

}  // namespace

ScratchLocalMachine::ScratchLocalMachine() {
  // A leftover of an interrupted run is not this test's starting point.
  ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, kScratchPath);
  EXPECT_EQ(ERROR_SUCCESS,
            ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kScratchPath, 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &m_scratch, nullptr));
  EXPECT_EQ(ERROR_SUCCESS,
            ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, m_scratch));
}

ScratchLocalMachine::~ScratchLocalMachine() {
  ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
  if (m_scratch) ::RegCloseKey(m_scratch);
  ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, kScratchPath);
  ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kScratchPath);
  // Leaves Software\VplCMgrTests when other tests keep keys below it.
  ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\VplCMgrTests");
}

void ScratchLocalMachine::SetString(const std::string& key,
                                    const std::string& name,
                                    const std::string& text) const {
  EXPECT_EQ(
      ERROR_SUCCESS,
      ::RegSetKeyValueA(HKEY_LOCAL_MACHINE, key.c_str(), name.c_str(), REG_SZ,
                        text.c_str(), static_cast<DWORD>(text.size() + 1)));
}

void ScratchLocalMachine::SetDword(const std::string& key,
                                   const std::string& name, DWORD value) const {
  EXPECT_EQ(ERROR_SUCCESS,
            ::RegSetKeyValueA(HKEY_LOCAL_MACHINE, key.c_str(), name.c_str(),
                              REG_DWORD, &value, sizeof(value)));
}

void ScratchLocalMachine::DeleteValue(const std::string& key,
                                      const std::string& name) const {
  ::RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, key.c_str(), name.c_str());
}

std::optional<std::string> ScratchLocalMachine::ReadString(
    const std::string& key, const std::string& name) const {
  char text[2048] = "";
  DWORD size = sizeof(text);
  if (::RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), name.c_str(),
                     RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::string(text);
}

}  // namespace vpltest
