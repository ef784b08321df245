// Switching one privilege of the process token on or off.
#pragma once

#include <windows.h>

namespace NTarn {

// Enables the named privilege (such as "SeTakeOwnershipPrivilege"). Returns 1
// when the token now has it enabled; otherwise logs the name with the error
// (1300 when the account does not hold the privilege) and returns 0.
BOOL EnablePrivilege(const char* name);
// The wide name is converted to the ANSI code page, at most 79 characters.
BOOL EnablePrivilege(const wchar_t* name);

// Disables the named privilege; always returns 1.
BOOL DisablePrivilege(const char* name);
BOOL DisablePrivilege(const wchar_t* name);

}  // namespace NTarn
