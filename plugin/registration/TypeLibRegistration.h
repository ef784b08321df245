// Registration of the type library embedded in a module (resource "TYPELIB"
// id 1).
#pragma once

#include <windows.h>

#include <string>

#include "plugin/registration/RegistrationScope.h"

namespace registration {

// Loads the library from `modulePath` and registers it, with the help
// directory its documentation names. Per user through
// RegisterTypeLibForUser when OLEAUT32.DLL has it, machine-wide otherwise.
HRESULT RegisterTypeLibrary(const std::wstring& modulePath,
                            RegistrationScope scope);

// Unregisters the library embedded in `modulePath` (its LIBID, version,
// locale and system kind). A library that is not registered counts as
// unregistered, so that undoing a registration that failed early completes.
HRESULT UnregisterTypeLibrary(const std::wstring& modulePath,
                              RegistrationScope scope);

}  // namespace registration
