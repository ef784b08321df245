#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "common/Logging.h"
#include "common/RegistryParameters.h"
#include "tests/support/DebugFlagsScope.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestRegistryKey.h"

namespace {

using namespace NTarn;

using vpltest::DebugFlagsScope;
using vpltest::LogCapture;
using vpltest::TestRegistryKey;
using Lines = std::vector<std::string>;

// A setting key below "Software\Tarn" and its policy twin, both the test's
// own.
class RegGetPolicyParameterTest : public ::testing::Test {
 protected:
  static std::string TestName() {
    return ::testing::UnitTest::GetInstance()->current_test_info()->name();
  }
  static std::string SettingPath() {
    return "Software\\Tarn\\VplCMgrTests\\" + TestName();
  }
  static std::string PolicyPath() {
    return "Software\\Policies\\Tarn\\VplCMgrTests\\" + TestName();
  }

  DebugFlagsScope m_flags{0};
};

TEST_F(RegGetPolicyParameterTest, PolicyValueWinsAndNeitherKeyIsTouched) {
  TestRegistryKey setting(SettingPath());
  TestRegistryKey policy(PolicyPath());
  setting.SetDword("Window", 5);
  policy.SetDword("Window", 9);
  policy.SetString("AsText", "30");
  DebugFlags.store(0x08);
  DWORD value = 1;
  EXPECT_EQ(1u,
            RegGetPolicyParameter(HKEY_LOCAL_MACHINE, setting.c_str(), "Window",
                                  REG_DWORD, &value, sizeof(value), 0x01));
  EXPECT_EQ(9u, value);
  EXPECT_EQ(Lines{policy.Path() + "\\Window=9 (0x00000009) previous 1\n"},
            LogCapture::Messages());
  EXPECT_EQ(5u, setting.ReadDword("Window"));
  EXPECT_EQ(9u, policy.ReadDword("Window"));

  // Converted for the caller, but the policy keeps its text.
  value = 1;
  RegGetPolicyParameter(HKEY_LOCAL_MACHINE, setting.c_str(), "AsText",
                        REG_DWORD, &value, sizeof(value), 0);
  EXPECT_EQ(30u, value);
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), policy.TypeOf("AsText"));
  EXPECT_FALSE(setting.HasValue("AsText"));
}

TEST_F(RegGetPolicyParameterTest, UnusablePolicyTypeKeepsDefaultWritesNothing) {
  TestRegistryKey setting(SettingPath(), /*create=*/false);
  TestRegistryKey policy(PolicyPath());
  const BYTE bytes[3] = {1, 2, 3};
  policy.SetRaw("Window", REG_BINARY, bytes, sizeof(bytes));
  DWORD value = 7;
  EXPECT_EQ(0u,
            RegGetPolicyParameter(HKEY_LOCAL_MACHINE, setting.c_str(), "Window",
                                  REG_DWORD, &value, sizeof(value), 0));
  EXPECT_EQ(7u, value);
  EXPECT_EQ(static_cast<DWORD>(REG_BINARY), policy.TypeOf("Window"));
  EXPECT_FALSE(setting.Exists());
}

TEST_F(RegGetPolicyParameterTest, SettingAbsentFromPolicyUsesCallersFlags) {
  TestRegistryKey setting(SettingPath(), /*create=*/false);
  TestRegistryKey policy(PolicyPath());
  policy.SetDword("Other", 1);
  char text[16] = "NEVER";
  EXPECT_EQ(
      0u, RegGetPolicyParameter(HKEY_LOCAL_MACHINE, setting.c_str(),
                                "LogOffAction", REG_SZ, text, sizeof(text), 0));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), ::GetLastError());
  EXPECT_EQ("NEVER", setting.ReadString("LogOffAction"));
  EXPECT_FALSE(policy.HasValue("LogOffAction"));

  // Read-only callers leave the missing setting alone.
  DWORD value = 3;
  RegGetPolicyParameter(HKEY_LOCAL_MACHINE, setting.c_str(), "Count", REG_DWORD,
                        &value, sizeof(value), 0x90);
  EXPECT_EQ(3u, value);
  EXPECT_FALSE(setting.HasValue("Count"));
  EXPECT_EQ(Lines{}, LogCapture::Messages());
}

TEST_F(RegGetPolicyParameterTest, PathOutsideTarnIsReadWithAnErrorLine) {
  TestRegistryKey setting("Software\\VplCMgrTests\\" + TestName());
  setting.SetDword("Window", 4);
  DWORD value = 0;
  EXPECT_EQ(1u,
            RegGetPolicyParameter(HKEY_LOCAL_MACHINE, setting.c_str(), "Window",
                                  REG_DWORD, &value, sizeof(value), 0));
  EXPECT_EQ(4u, value);
  const std::wstring widePath(setting.Path().begin(), setting.Path().end());
  RegGetPolicyParameter(HKEY_LOCAL_MACHINE, widePath.c_str(), L"Window",
                        REG_DWORD, &value, sizeof(value), 0);
  EXPECT_EQ((Lines{"Error: RegGetPolicyParameter Window\n",
                   "Error: RegGetPolicyParameter Window\n"}),
            LogCapture::Messages());
}

TEST_F(RegGetPolicyParameterTest, WideFormAppliesThePolicyToo) {
  TestRegistryKey setting(SettingPath());
  TestRegistryKey policy(PolicyPath());
  setting.SetString("ShutdownMsg", "local");
  policy.SetString("ShutdownMsg", "policy");
  const std::string path = SettingPath();
  const std::wstring widePath(path.begin(), path.end());
  wchar_t text[16] = L"";
  EXPECT_EQ(
      1u, RegGetPolicyParameter(HKEY_LOCAL_MACHINE, widePath.c_str(),
                                L"ShutdownMsg", REG_SZ, text, sizeof(text), 0));
  EXPECT_STREQ(L"policy", text);
  EXPECT_EQ("local", setting.ReadString("ShutdownMsg"));
}

}  // namespace
