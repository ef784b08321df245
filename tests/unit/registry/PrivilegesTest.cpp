#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "common/Privileges.h"
#include "common/SystemHelpers.h"
#include "tests/support/LogCapture.h"
#include "tests/support/DebugFlagsScope.h"

namespace {

using vpltest::DebugFlagsScope;
using vpltest::LogCapture;
using Lines = std::vector<std::string>;

TEST(EnablePrivilege, HeldPrivilegeIsSwitchedOnAndOffQuietly) {
  DebugFlagsScope flags(0);
  EXPECT_EQ(TRUE, EnablePrivilege("SeShutdownPrivilege"));
  EXPECT_EQ(TRUE, DisablePrivilege("SeShutdownPrivilege"));
  EXPECT_EQ(TRUE, EnablePrivilege(L"SeShutdownPrivilege"));
  EXPECT_EQ(TRUE, DisablePrivilege(L"SeShutdownPrivilege"));
  EXPECT_EQ(Lines{}, LogCapture::Messages());
}

TEST(EnablePrivilege, MissingOrUnknownPrivilegeIsLoggedWithTheError) {
  DebugFlagsScope flags(0);
  EXPECT_EQ(FALSE, EnablePrivilege("SeCreateTokenPrivilege"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_ALL_ASSIGNED), ::GetLastError());
  EXPECT_EQ(FALSE, EnablePrivilege(L"SeNoSuchPrivilege"));
  EXPECT_EQ(TRUE, DisablePrivilege("SeNoSuchPrivilege"));
  EXPECT_EQ((Lines{"Could Not get SeCreateTokenPrivilege Privilege 1300\n",
                   "Could Not get SeNoSuchPrivilege Privilege 1313\n"}),
            LogCapture::Messages());
}

TEST(EnablePrivilege, WideNameIsCutAt79Characters) {
  DebugFlagsScope flags(0);
  const std::wstring longName = L"Se" + std::wstring(100, L'x');
  EXPECT_EQ(FALSE, EnablePrivilege(longName.c_str()));
  EXPECT_EQ(
      (Lines{"Could Not get Se" + std::string(77, 'x') + " Privilege 1313\n"}),
      LogCapture::Messages());
}

TEST(IsWindowsNT, ReportsTheNtPlatform) { EXPECT_TRUE(IsWindowsNT()); }

}  // namespace
