// One-shot connection to a WMI namespace that raises on failure.
#pragma once

#include <windows.h>
#include <wbemcli.h>
#include <wrl/client.h>

namespace NTarn {

// Connects to `wmiNamespace` on `machine` (null for the namespace alone, "."
// for this machine) and secures the proxy with the given levels. COM must be
// initialised on the calling thread. Raises HResultException on failure.
void ConnectToNamespace(Microsoft::WRL::ComPtr<IWbemServices>& services,
                        const wchar_t* machine, const wchar_t* wmiNamespace,
                        const wchar_t* user, const wchar_t* password,
                        DWORD authenticationLevel, DWORD impersonationLevel);

}  // namespace NTarn
