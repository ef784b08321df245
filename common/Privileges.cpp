#include "common/Privileges.h"

#include "common/Logging.h"
#include "common/ScopedHandle.h"

namespace NTarn {
namespace {

// Longest privilege name taken from a wide text.
constexpr int kNameChars = 79;

// Sets the attributes of one privilege of the process token and returns the
// thread's last error afterwards: 0 on success, ERROR_NOT_ALL_ASSIGNED (1300)
// when the account does not hold the privilege.
DWORD AdjustPrivilege(const char* name, DWORD attributes) {
  ScopedHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(),
                          TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                          token.Receive())) {
    return ::GetLastError();
  }
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = attributes;
  if (!::LookupPrivilegeValueA(nullptr, name, &privileges.Privileges[0].Luid)) {
    return ::GetLastError();
  }
  ::AdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, nullptr, nullptr);
  return ::GetLastError();
}

// The ANSI form of a wide privilege name, cut to kNameChars characters.
struct NarrowName {
  explicit NarrowName(const wchar_t* wide) {
    int length = 0;
    while (length < kNameChars && wide[length]) ++length;
    const int written = ::WideCharToMultiByte(CP_ACP, 0, wide, length, text,
                                              kNameChars, nullptr, nullptr);
    text[written > 0 ? written : 0] = '\0';
  }
  char text[kNameChars + 1] = {};
};

}  // namespace

BOOL EnablePrivilege(const char* name) {
  if (!name) return FALSE;
  const DWORD error = AdjustPrivilege(name, SE_PRIVILEGE_ENABLED);
  ::SetLastError(error);
  if (error == ERROR_SUCCESS) return TRUE;
  LogMessage("Could Not get %s Privilege %d\n", name, static_cast<int>(error));
  return FALSE;
}

BOOL EnablePrivilege(const wchar_t* name) {
  if (!name) return FALSE;
  return EnablePrivilege(NarrowName(name).text);
}

BOOL DisablePrivilege(const char* name) {
  if (name) AdjustPrivilege(name, 0);
  return TRUE;
}

BOOL DisablePrivilege(const wchar_t* name) {
  if (name) DisablePrivilege(NarrowName(name).text);
  return TRUE;
}

}  // namespace NTarn
