// What the library's registration entry points do.
#pragma once

#include <windows.h>

#include "plugin/registration/RegistrationScope.h"

namespace registration {

// Runs the module's script, each class's script, then registers the type
// library; stops at the first failure and returns it.
HRESULT RegisterServer(RegistrationScope scope);

// The mirror image: each class's script, the type library, the module's
// script. Every step runs even when an earlier one failed, so that what can be
// removed is removed; the first failure is returned.
HRESULT UnregisterServer(RegistrationScope scope);

// DllInstall: the command line "user" (any case, nothing after it) selects
// per-user registration for this call only; a failed installation is undone.
HRESULT InstallServer(BOOL install, const wchar_t* commandLine);

}  // namespace registration
