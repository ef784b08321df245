// Repair of a registry key's security so that the service can delete it.
#pragma once

#include <windows.h>

namespace NTarn {

// Replaces the DACL of `leaf` below the open `parent` with full control for
// the account the process runs as. If the key refuses that, takes ownership
// for BUILTIN\Administrators (with the take-ownership privilege) and sets the
// DACL by name as "MACHINE\<parentPath>\<leaf>", so the key must lie under
// HKEY_LOCAL_MACHINE. Returns 1 when the DACL was replaced, else 0.
BOOL ResetSecurity(HKEY parent, const char* parentPath, const char* leaf);

}  // namespace NTarn
