#include "tests/unit/registry/OverriddenMachineHive.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace vpltest {
namespace {

std::string ScratchPath() {
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = test ? test->name() : "NoTest";
  // Parameterised names carry '/', which a key name cannot.
  for (char& c : name) {
    if (c == '/' || c == '\\') c = '_';
  }
  return "Software\\VplCMgrTests\\MachineHive\\" + name;
}

}  // namespace

OverriddenMachineHive::OverriddenMachineHive() : m_scratch(ScratchPath()) {
  HKEY scratch = nullptr;
  EXPECT_EQ(ERROR_SUCCESS,
            ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, m_scratch.c_str(), 0,
                            KEY_ALL_ACCESS, &scratch));
  // The system keeps a duplicate of the handle.
  EXPECT_EQ(ERROR_SUCCESS, ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, scratch));
  if (scratch) ::RegCloseKey(scratch);
}

OverriddenMachineHive::~OverriddenMachineHive() {
  ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
}

}  // namespace vpltest
