#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "common/Privileges.h"
#include "common/ScopedHandle.h"
#include "tests/support/DebugFlagsScope.h"
#include "tests/support/LogCapture.h"

namespace {

using namespace NTarn;

using vpltest::DebugFlagsScope;
using vpltest::LogCapture;
using Lines = std::vector<std::string>;

// The privilege's attributes as the process token holds them now.
DWORD TokenAttributesOf(const wchar_t* name) {
  LUID luid{};
  EXPECT_TRUE(::LookupPrivilegeValueW(nullptr, name, &luid));
  NTarn::ScopedHandle token;
  EXPECT_TRUE(
      ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Receive()));
  DWORD size = 0;
  ::GetTokenInformation(token.Get(), TokenPrivileges, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  EXPECT_TRUE(::GetTokenInformation(token.Get(), TokenPrivileges, buffer.data(),
                                    size, &size));
  const auto* privileges = reinterpret_cast<TOKEN_PRIVILEGES*>(buffer.data());
  for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
    const LUID& held = privileges->Privileges[i].Luid;
    if (held.LowPart == luid.LowPart && held.HighPart == luid.HighPart) {
      return privileges->Privileges[i].Attributes;
    }
  }
  ADD_FAILURE() << "the token does not hold the privilege";
  return 0;
}

// Through either kind of name, quietly, with the token's enabled attribute
// following each call.
TEST(EnablePrivilege, HeldPrivilegeIsSwitchedOnAndOffQuietly) {
  DebugFlagsScope flags(0);
  const wchar_t* const name = L"SeShutdownPrivilege";
  for (bool wide : {false, true}) {
    SCOPED_TRACE(wide ? "wide" : "narrow");
    EXPECT_EQ(TRUE, wide ? EnablePrivilege(name)
                         : EnablePrivilege("SeShutdownPrivilege"));
    EXPECT_NE(0u, TokenAttributesOf(name) & SE_PRIVILEGE_ENABLED);
    EXPECT_EQ(TRUE, wide ? DisablePrivilege(name)
                         : DisablePrivilege("SeShutdownPrivilege"));
    EXPECT_EQ(0u, TokenAttributesOf(name) & SE_PRIVILEGE_ENABLED);
  }
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

}  // namespace
