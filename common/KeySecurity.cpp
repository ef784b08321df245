#include "common/KeySecurity.h"

#include <aclapi.h>

#include <memory>
#include <string>

#include "common/Logging.h"
#include "common/Privileges.h"
#include "common/ScopedHandle.h"

namespace NTarn {
namespace {

constexpr DWORD kAclBytes = 1024;
constexpr DWORD kKeyAllAccess = 0xF003F;

// SIDs from AllocateAndInitializeSid, which FreeSid gives back.
struct AllocatedSidTraits {
  using Handle = PSID;
  static Handle Empty() { return nullptr; }
  static bool IsValid(Handle sid) { return sid != nullptr; }
  static void Close(Handle sid) { ::FreeSid(sid); }
};
using ScopedAllocatedSid = ScopedGenericHandle<AllocatedSidTraits>;

ScopedAllocatedSid MakeAdministratorsSid() {
  SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
  ScopedAllocatedSid sid;
  ::AllocateAndInitializeSid(&authority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                             DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                             sid.Receive());
  return sid;
}

// A copy of the user SID of the process token: full control goes to the
// account the service runs as, never to every user of the machine.
std::unique_ptr<BYTE[]> MakeProcessUserSid() {
  ScopedHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY,
                          token.Receive())) {
    return nullptr;
  }
  DWORD size = 0;
  ::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
  if (size == 0) return nullptr;
  std::unique_ptr<BYTE[]> user(new (std::nothrow) BYTE[size]);
  if (!user ||
      !::GetTokenInformation(token.Get(), TokenUser, user.get(), size, &size)) {
    return nullptr;
  }
  PSID sid = reinterpret_cast<TOKEN_USER*>(user.get())->User.Sid;
  const DWORD sidSize = ::GetLengthSid(sid);
  std::unique_ptr<BYTE[]> copy(new (std::nothrow) BYTE[sidSize]);
  if (!copy || !::CopySid(sidSize, copy.get(), sid)) return nullptr;
  return copy;
}

// First attempt: the key itself, opened for changing its DACL.
bool SetDaclThroughKey(HKEY parent, const char* leaf, PACL acl) {
  ScopedRegKey key;
  const LSTATUS status =
      ::RegOpenKeyExA(parent, leaf, 0, WRITE_DAC, key.Receive());
  if (status != ERROR_SUCCESS) {
    if (IsDebugFlagSet(debug_flags::kVerbose)) {
      LogMessage("ResetSecurity OpenKey failed - %s\n",
                 FormatErrorText(status));
    }
    return false;
  }
  SECURITY_DESCRIPTOR descriptor;
  ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  ::SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE);
  const LSTATUS set =
      ::RegSetKeySecurity(key.Get(), DACL_SECURITY_INFORMATION, &descriptor);
  if (set != ERROR_SUCCESS) {
    if (IsDebugFlagSet(debug_flags::kVerbose)) {
      LogMessage("ResetSecurity - RegSetKeySecurity failed - %s\n",
                 FormatErrorText(set));
    }
    return false;
  }
  return true;
}

// Second attempt: ownership for the Administrators, then the DACL, by name.
bool SetDaclByName(const char* parentPath, const char* leaf, PSID owner,
                   PACL acl) {
  EnablePrivilege("SeTakeOwnershipPrivilege");
  std::string name = std::string("MACHINE\\") + parentPath + "\\" + leaf;
  if (IsDebugFlagSet(debug_flags::kVerbose)) {
    LogMessage("Trying Harder - %s\n", name.c_str());
  }
  DWORD status = ::SetNamedSecurityInfoA(name.data(), SE_REGISTRY_KEY,
                                         OWNER_SECURITY_INFORMATION, owner,
                                         nullptr, nullptr, nullptr);
  if (status != ERROR_SUCCESS) {
    LogMessage("res=%d %s %s\n", static_cast<int>(status), leaf,
               FormatErrorText(status));
  }
  status = ::SetNamedSecurityInfoA(name.data(), SE_REGISTRY_KEY,
                                   DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                   acl, nullptr);
  if (status != ERROR_SUCCESS) {
    LogMessage("res=%d %s %s\n", static_cast<int>(status), leaf,
               FormatErrorText(status));
    return false;
  }
  return true;
}

}  // namespace

BOOL ResetSecurity(HKEY parent, const char* parentPath, const char* leaf) {
  if (!parent || !parentPath || !leaf) return FALSE;
  if (IsDebugFlagSet(debug_flags::kVerbose)) {
    LogMessage("Resetting Security on \"%s\\%s\"\n", parentPath, leaf);
  }
  std::unique_ptr<BYTE[]> userSid = MakeProcessUserSid();
  if (!userSid) LogMessage("InitializeSid.. Failed\n");
  ScopedAllocatedSid administrators = MakeAdministratorsSid();
  if (!administrators) LogMessage("InitializeSid.. Failed\n");

  std::unique_ptr<BYTE[]> aclBlock(new (std::nothrow) BYTE[kAclBytes]());
  if (!aclBlock) return FALSE;
  auto* acl = reinterpret_cast<PACL>(aclBlock.get());
  // Without its one ACE the DACL would lock everybody out of the key.
  if (!userSid || !::InitializeAcl(acl, kAclBytes, ACL_REVISION) ||
      !::AddAccessAllowedAce(acl, ACL_REVISION, kKeyAllAccess, userSid.get())) {
    return FALSE;
  }

  if (SetDaclThroughKey(parent, leaf, acl)) return TRUE;
  return SetDaclByName(parentPath, leaf, administrators.Get(), acl) ? TRUE
                                                                    : FALSE;
}

}  // namespace NTarn
