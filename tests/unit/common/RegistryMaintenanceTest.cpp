#include <aclapi.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "common/KeySecurity.h"
#include "common/Logging.h"
#include "common/RegistryMaintenance.h"
#include "common/ScopedHandle.h"
#include "tests/support/DebugFlagsScope.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestRegistryKey.h"

namespace {

using namespace NTarn;

using vpltest::DebugFlagsScope;
using vpltest::LogCapture;
using vpltest::ProcessUserSid;
using vpltest::TestKeyPath;
using vpltest::TestRegistryKey;
using Lines = std::vector<std::string>;

std::string DeleteLine(const std::string& path) {
  return "[T]: Registry recursive delete [" + path + "]\n";
}

// Expects the key's DACL to be exactly one ACE granting full control to the
// account the process runs as.
void ExpectFullControlForProcessUserOnly(const std::string& path) {
  PACL dacl = nullptr;
  ScopedLocalMemory descriptor;
  std::string name = "MACHINE\\" + path;
  ASSERT_EQ(ERROR_SUCCESS,
            ::GetNamedSecurityInfoA(name.data(), SE_REGISTRY_KEY,
                                    DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                    &dacl, nullptr, descriptor.Receive()));
  ASSERT_NE(nullptr, dacl);
  ASSERT_EQ(1, dacl->AceCount);
  ACCESS_ALLOWED_ACE* ace = nullptr;
  ASSERT_TRUE(::GetAce(dacl, 0, reinterpret_cast<void**>(&ace)));
  EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, ace->Header.AceType);
  EXPECT_EQ(0xF003Fu, ace->Mask);
  std::vector<BYTE> user = ProcessUserSid();
  EXPECT_TRUE(::EqualSid(&ace->SidStart, user.data()));
  BYTE everyone[SECURITY_MAX_SID_SIZE];
  DWORD everyoneSize = sizeof(everyone);
  ASSERT_TRUE(
      ::CreateWellKnownSid(WinWorldSid, nullptr, everyone, &everyoneSize));
  EXPECT_FALSE(::EqualSid(&ace->SidStart, everyone));
}

TEST(RecurDeleteKey, RemovesThreeLevelsBottomUpWithOneLinePerKey) {
  DebugFlagsScope flags(0x10);
  TestRegistryKey root(TestKeyPath());
  const std::string path = root.Path();
  root.CreateSubkey("A\\B\\C");
  root.CreateSubkey("A2");
  root.SetDword("Value", 1);
  EXPECT_EQ(TRUE, RecurDeleteKey(HKEY_LOCAL_MACHINE, root.c_str()));
  EXPECT_FALSE(root.Exists());
  EXPECT_EQ((Lines{DeleteLine(path), DeleteLine(path + "\\A"),
                   DeleteLine(path + "\\A\\B"), DeleteLine(path + "\\A\\B\\C"),
                   DeleteLine(path + "\\A2")}),
            LogCapture::Messages());
}

TEST(RecurDeleteKey, SubkeyNamedOutsideTheAnsiCodePageIsDeleted) {
  DebugFlagsScope flags(0x10);
  TestRegistryKey root(TestKeyPath());
  const std::wstring name = L"\x4E2D\x6587";
  root.CreateSubkey(name + L"\\Inner");
  // The log lines show the name as the ANSI code page has it.
  char ansi[8] = "";
  ::WideCharToMultiByte(CP_ACP, 0, name.c_str(), -1, ansi, sizeof(ansi),
                        nullptr, nullptr);
  const std::string path = root.Path() + "\\" + ansi;
  EXPECT_EQ(TRUE, RecurDeleteKey(HKEY_LOCAL_MACHINE, root.c_str()));
  EXPECT_FALSE(root.Exists());
  EXPECT_EQ((Lines{DeleteLine(root.Path()), DeleteLine(path),
                   DeleteLine(path + "\\Inner")}),
            LogCapture::Messages());
}

TEST(RecurDeleteKey, QuietWithoutTheVerboseBit) {
  DebugFlagsScope flags(0);
  TestRegistryKey root(TestKeyPath());
  root.CreateSubkey("A\\B");
  EXPECT_EQ(TRUE, RecurDeleteKey(HKEY_LOCAL_MACHINE, root.c_str()));
  EXPECT_FALSE(root.Exists());
  EXPECT_EQ(Lines{}, LogCapture::Messages());
}

TEST(RecurDeleteKey, MissingKeyCountsAsDeletedSilently) {
  DebugFlagsScope flags(0x10);
  TestRegistryKey root(TestKeyPath());
  EXPECT_EQ(TRUE, RecurDeleteKey(HKEY_LOCAL_MACHINE,
                                 (root.Path() + "\\Missing").c_str()));
  EXPECT_EQ(TRUE, RecurDeleteKey(HKEY_LOCAL_MACHINE,
                                 (root.Path() + "\\No\\Leaf").c_str()));
  EXPECT_EQ(Lines{}, LogCapture::Messages());
}

TEST(RecurDeleteKey, KeyThatRefusesAccessHasItsSecurityReset) {
  DebugFlagsScope flags(0x10);
  TestRegistryKey root(TestKeyPath());
  const std::string locked = root.Path() + "\\Locked";
  root.CreateSubkey("Locked\\Inner");
  root.RestrictAccess("Locked", 0);
  ScopedRegKey probe;
  ASSERT_EQ(ERROR_ACCESS_DENIED,
            ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, locked.c_str(), 0, KEY_READ,
                            probe.Receive()));
  EXPECT_EQ(TRUE, RecurDeleteKey(HKEY_LOCAL_MACHINE, locked.c_str()));
  EXPECT_FALSE(root.HasSubkey("Locked"));
  EXPECT_EQ((Lines{"Resetting Security on \"" + locked + "\"\n",
                   DeleteLine(locked), DeleteLine(locked + "\\Inner")}),
            LogCapture::Messages());
}

TEST(ResetSecurity, GrantsFullControlToTheProcessAccount) {
  DebugFlagsScope flags(0x10);
  TestRegistryKey root(TestKeyPath());
  root.CreateSubkey("Leaf");
  {
    ScopedRegKey parent;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, root.c_str(),
                                             0, KEY_READ, parent.Receive()));
    EXPECT_EQ(TRUE, ResetSecurity(parent.Get(), root.c_str(), "Leaf"));
  }
  ExpectFullControlForProcessUserOnly(root.Path() + "\\Leaf");
  EXPECT_EQ((Lines{"Resetting Security on \"" + root.Path() + "\\Leaf\"\n"}),
            LogCapture::Messages());
}

TEST(ResetSecurity, TriesHarderByNameWhenTheKeyDoesNotOpen) {
  DebugFlagsScope flags(0x10);
  TestRegistryKey root(TestKeyPath());
  root.CreateSubkey("Leaf");
  root.CreateSubkey("Decoy");
  // The handle is of a key without "Leaf", so only the named path reaches it.
  ScopedRegKey decoy;
  ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                                           (root.Path() + "\\Decoy").c_str(), 0,
                                           KEY_READ, decoy.Receive()));
  EXPECT_EQ(TRUE, ResetSecurity(decoy.Get(), root.c_str(), "Leaf"));
  ExpectFullControlForProcessUserOnly(root.Path() + "\\Leaf");
  EXPECT_EQ((Lines{"Resetting Security on \"" + root.Path() + "\\Leaf\"\n",
                   std::string("ResetSecurity OpenKey failed - ") +
                       FormatErrorText(ERROR_FILE_NOT_FOUND) + "\n",
                   "Trying Harder - MACHINE\\" + root.Path() + "\\Leaf\n"}),
            LogCapture::Messages());

  // Nowhere to be found: both named calls fail and are logged.
  DebugFlags.store(0);
  LogCapture::Clear();
  EXPECT_EQ(FALSE, ResetSecurity(decoy.Get(), root.c_str(), "Gone"));
  decoy.Reset();
  const std::string failure =
      std::string("res=2 Gone ") + FormatErrorText(ERROR_FILE_NOT_FOUND) + "\n";
  EXPECT_EQ((Lines{failure, failure}), LogCapture::Messages());
}

}  // namespace
