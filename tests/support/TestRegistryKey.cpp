#include "tests/support/TestRegistryKey.h"

#include <gtest/gtest.h>

namespace vpltest {
namespace {

using NTarn::ScopedHandle;
using NTarn::ScopedRegKey;

bool KeyExists(HKEY root, const std::string& path) {
  ScopedRegKey key;
  return ::RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.Receive()) ==
         ERROR_SUCCESS;
}

}  // namespace

std::string TestKeyPath() {
  return std::string("Software\\VplCMgrTests\\") +
         ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

TestRegistryKey::TestRegistryKey(std::string path, bool create, HKEY root)
    : m_root(root), m_path(std::move(path)) {
  // Remember which keys of the path are new, so that exactly those go.
  for (size_t end = m_path.find('\\');; end = m_path.find('\\', end + 1)) {
    const std::string prefix = m_path.substr(0, end);
    if (!KeyExists(m_root, prefix)) m_created.push_back(prefix);
    if (end == std::string::npos) break;
  }
  // A leftover of an interrupted run is not this test's starting point.
  ::RegDeleteTreeA(m_root, m_path.c_str());
  ::RegDeleteKeyA(m_root, m_path.c_str());
  if (m_created.empty() || m_created.back() != m_path) {
    m_created.push_back(m_path);
  }
  if (create) CreateSubkey("");
}

TestRegistryKey::~TestRegistryKey() {
  ::RegDeleteTreeA(m_root, m_path.c_str());
  for (auto it = m_created.rbegin(); it != m_created.rend(); ++it) {
    // Fails, and so keeps the key, when something else lives below it.
    ::RegDeleteKeyA(m_root, it->c_str());
  }
}

std::string TestRegistryKey::Below(const std::string& relative) const {
  return relative.empty() ? m_path : m_path + "\\" + relative;
}

bool TestRegistryKey::Exists() const { return KeyExists(m_root, m_path); }

bool TestRegistryKey::HasSubkey(const std::string& relative) const {
  return KeyExists(m_root, Below(relative));
}

void TestRegistryKey::CreateSubkey(const std::string& relative) const {
  CreateSubkey(std::wstring(relative.begin(), relative.end()));
}

void TestRegistryKey::CreateSubkey(const std::wstring& relative) const {
  std::wstring path(m_path.begin(), m_path.end());
  if (!relative.empty()) path += L"\\" + relative;
  ScopedRegKey key;
  EXPECT_EQ(ERROR_SUCCESS,
            ::RegCreateKeyExW(m_root, path.c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, key.Receive(), nullptr));
}

NTarn::ScopedRegKey TestRegistryKey::Open(REGSAM access) const {
  ScopedRegKey key;
  ::RegOpenKeyExA(m_root, m_path.c_str(), 0, access, key.Receive());
  return key;
}

HKEY TestRegistryKey::ClosedHandle() const {
  const ScopedRegKey key = Open(KEY_READ);
  EXPECT_TRUE(key);
  return key.Get();
}

void TestRegistryKey::RestrictAccess(const std::string& relative,
                                     REGSAM access) const {
  std::vector<BYTE> user = ProcessUserSid();
  BYTE aclBlock[256] = {};
  auto* acl = reinterpret_cast<PACL>(aclBlock);
  ASSERT_TRUE(::InitializeAcl(acl, sizeof(aclBlock), ACL_REVISION));
  if (access != 0) {
    ASSERT_TRUE(::AddAccessAllowedAce(acl, ACL_REVISION, access, user.data()));
  }
  SECURITY_DESCRIPTOR descriptor;
  ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  ::SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE);
  ScopedRegKey key;
  ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExA(m_root, Below(relative).c_str(), 0,
                                           WRITE_DAC, key.Receive()));
  EXPECT_EQ(
      ERROR_SUCCESS,
      ::RegSetKeySecurity(key.Get(), DACL_SECURITY_INFORMATION, &descriptor));
}

void TestRegistryKey::SetRaw(const std::string& name, DWORD type,
                             const void* data, DWORD size) const {
  ASSERT_EQ(ERROR_SUCCESS, ::RegSetKeyValueA(m_root, m_path.c_str(),
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
  return ::RegGetValueA(m_root, m_path.c_str(), name.c_str(),
                        RRF_RT_ANY | RRF_NOEXPAND, nullptr, nullptr,
                        nullptr) == ERROR_SUCCESS;
}

DWORD TestRegistryKey::TypeOf(const std::string& name) const {
  DWORD type = REG_NONE;
  ::RegGetValueA(m_root, m_path.c_str(), name.c_str(),
                 RRF_RT_ANY | RRF_NOEXPAND, &type, nullptr, nullptr);
  return type;
}

DWORD TestRegistryKey::ReadDword(const std::string& name) const {
  DWORD value = 0xDEADBEEF;
  DWORD size = sizeof(value);
  EXPECT_EQ(ERROR_SUCCESS,
            ::RegGetValueA(m_root, m_path.c_str(), name.c_str(),
                           RRF_RT_REG_DWORD, nullptr, &value, &size));
  return value;
}

std::string TestRegistryKey::ReadString(const std::string& name) const {
  char text[2048] = "";
  DWORD size = sizeof(text);
  EXPECT_EQ(ERROR_SUCCESS,
            ::RegGetValueA(m_root, m_path.c_str(), name.c_str(),
                           RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                           nullptr, text, &size));
  return text;
}

std::vector<BYTE> ProcessUserSid() {
  ScopedHandle token;
  EXPECT_TRUE(
      ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Receive()));
  BYTE user[256];
  DWORD size = sizeof(user);
  EXPECT_TRUE(::GetTokenInformation(token.Get(), TokenUser, user, size, &size));
  PSID sid = reinterpret_cast<TOKEN_USER*>(user)->User.Sid;
  const BYTE* bytes = static_cast<const BYTE*>(sid);
  return std::vector<BYTE>(bytes, bytes + ::GetLengthSid(sid));
}

}  // namespace vpltest
