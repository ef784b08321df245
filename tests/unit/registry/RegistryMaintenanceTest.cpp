#include <aclapi.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "common/KeySecurity.h"
#include "common/Logging.h"
#include "common/RegistryMaintenance.h"
#include "tests/support/LogCapture.h"
#include "tests/support/DebugFlagsScope.h"
#include "tests/unit/registry/TestRegistryKey.h"

namespace {

using vpltest::DebugFlagsScope;
using vpltest::LogCapture;
using vpltest::TestRegistryKey;
using Lines = std::vector<std::string>;

std::string TestKeyPath() {
  return std::string("Software\\VplCMgrTests\\") +
         ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

void CreateKey(const std::string& path) {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS,
            ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr));
  ::RegCloseKey(key);
}

bool KeyExists(const std::string& path) {
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return false;
  }
  ::RegCloseKey(key);
  return true;
}

std::string DeleteLine(const std::string& path) {
  return "[T]: Registry recursive delete [" + path + "]\n";
}

// The user SID of the process token.
std::vector<BYTE> ProcessUserSid() {
  HANDLE token = nullptr;
  EXPECT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token));
  BYTE user[256];
  DWORD size = sizeof(user);
  EXPECT_TRUE(::GetTokenInformation(token, TokenUser, user, size, &size));
  ::CloseHandle(token);
  PSID sid = reinterpret_cast<TOKEN_USER*>(user)->User.Sid;
  const BYTE* bytes = static_cast<const BYTE*>(sid);
  return std::vector<BYTE>(bytes, bytes + ::GetLengthSid(sid));
}

// Replaces the key's DACL with an empty one: nobody is granted anything.
void LockKey(const std::string& path) {
  ACL acl;
  ASSERT_TRUE(::InitializeAcl(&acl, sizeof(acl), ACL_REVISION));
  SECURITY_DESCRIPTOR descriptor;
  ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  ::SetSecurityDescriptorDacl(&descriptor, TRUE, &acl, FALSE);
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0,
                                           WRITE_DAC, &key));
  EXPECT_EQ(ERROR_SUCCESS,
            ::RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor));
  ::RegCloseKey(key);
}

// Expects the key's DACL to be exactly one ACE granting full control to the
// account the process runs as.
void ExpectFullControlForProcessUserOnly(const std::string& path) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  std::string name = "MACHINE\\" + path;
  ASSERT_EQ(ERROR_SUCCESS,
            ::GetNamedSecurityInfoA(name.data(), SE_REGISTRY_KEY,
                                    DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                    &dacl, nullptr, &descriptor));
  std::unique_ptr<void, decltype(&::LocalFree)> owner(descriptor, ::LocalFree);
  ASSERT_NE(nullptr, dacl);
  ASSERT_EQ(1, dacl->AceCount);
  ACCESS_ALLOWED_ACE* ace = nullptr;
  ASSERT_TRUE(::GetAce(dacl, 0, reinterpret_cast<void**>(&ace)));
  EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, ace->Header.AceType);
  EXPECT_EQ(0xF003Fu, ace->Mask);
  std::vector<BYTE> user = ProcessUserSid();
  EXPECT_TRUE(::EqualSid(&ace->SidStart, user.data()));
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  ASSERT_TRUE(::AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0,
                                         0, 0, 0, 0, &everyone));
  EXPECT_FALSE(::EqualSid(&ace->SidStart, everyone));
  ::FreeSid(everyone);
}

TEST(RecurDeleteKey, RemovesThreeLevelsBottomUpWithOneLinePerKey) {
  DebugFlagsScope flags(0x10);
  TestRegistryKey root(TestKeyPath());
  const std::string path = root.Path();
  CreateKey(path + "\\A\\B\\C");
  CreateKey(path + "\\A2");
  root.SetDword("Value", 1);
  EXPECT_EQ(TRUE, RecurDeleteKey(HKEY_LOCAL_MACHINE, root.c_str()));
  EXPECT_FALSE(root.Exists());
  EXPECT_EQ((Lines{DeleteLine(path), DeleteLine(path + "\\A"),
                   DeleteLine(path + "\\A\\B"), DeleteLine(path + "\\A\\B\\C"),
                   DeleteLine(path + "\\A2")}),
            LogCapture::Messages());
}

TEST(RecurDeleteKey, QuietWithoutTheVerboseBit) {
  DebugFlagsScope flags(0);
  TestRegistryKey root(TestKeyPath());
  CreateKey(root.Path() + "\\A\\B");
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
  CreateKey(locked + "\\Inner");
  LockKey(locked);
  HKEY probe = nullptr;
  ASSERT_EQ(
      ERROR_ACCESS_DENIED,
      ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, locked.c_str(), 0, KEY_READ, &probe));
  EXPECT_EQ(TRUE, RecurDeleteKey(HKEY_LOCAL_MACHINE, locked.c_str()));
  EXPECT_FALSE(KeyExists(locked));
  EXPECT_EQ((Lines{"Resetting Security on \"" + locked + "\"\n",
                   DeleteLine(locked), DeleteLine(locked + "\\Inner")}),
            LogCapture::Messages());
}

TEST(ResetSecurity, GrantsFullControlToTheProcessAccount) {
  DebugFlagsScope flags(0x10);
  TestRegistryKey root(TestKeyPath());
  CreateKey(root.Path() + "\\Leaf");
  HKEY parent = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, root.c_str(), 0,
                                           KEY_READ, &parent));
  EXPECT_EQ(TRUE, ResetSecurity(parent, root.c_str(), "Leaf"));
  ::RegCloseKey(parent);
  ExpectFullControlForProcessUserOnly(root.Path() + "\\Leaf");
  EXPECT_EQ((Lines{"Resetting Security on \"" + root.Path() + "\\Leaf\"\n"}),
            LogCapture::Messages());
}

TEST(ResetSecurity, TriesHarderByNameWhenTheKeyDoesNotOpen) {
  DebugFlagsScope flags(0x10);
  TestRegistryKey root(TestKeyPath());
  CreateKey(root.Path() + "\\Leaf");
  CreateKey(root.Path() + "\\Decoy");
  // The handle is of a key without "Leaf", so only the named path reaches it.
  HKEY decoy = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                                           (root.Path() + "\\Decoy").c_str(), 0,
                                           KEY_READ, &decoy));
  EXPECT_EQ(TRUE, ResetSecurity(decoy, root.c_str(), "Leaf"));
  ExpectFullControlForProcessUserOnly(root.Path() + "\\Leaf");
  EXPECT_EQ((Lines{"Resetting Security on \"" + root.Path() + "\\Leaf\"\n",
                   std::string("ResetSecurity OpenKey failed - ") +
                       FormatErrorText(ERROR_FILE_NOT_FOUND) + "\n",
                   "Trying Harder - MACHINE\\" + root.Path() + "\\Leaf\n"}),
            LogCapture::Messages());

  // Nowhere to be found: both named calls fail and are logged.
  DebugFlags.store(0);
  LogCapture::Clear();
  EXPECT_EQ(FALSE, ResetSecurity(decoy, root.c_str(), "Gone"));
  ::RegCloseKey(decoy);
  const std::string failure =
      std::string("res=2 Gone ") + FormatErrorText(ERROR_FILE_NOT_FOUND) + "\n";
  EXPECT_EQ((Lines{failure, failure}), LogCapture::Messages());
}

}  // namespace
