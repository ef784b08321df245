// Reads one WMI object by its path within the per-call limit.
#pragma once

#include <windows.h>
#include <wbemcli.h>
#include <wrl/client.h>

namespace NTarn {

// Asks for the object at `path` semisynchronously and waits at most
// kWbemCallTimeoutMs for it. Returns the read's failure (WBEM_E_NOT_FOUND,
// WBEM_E_INVALID_CLASS, ...) or WBEM_E_TIMED_OUT; `object` is set only on
// success.
HRESULT GetWbemObject(IWbemServices* services, const wchar_t* path,
                      Microsoft::WRL::ComPtr<IWbemClassObject>& object);

}  // namespace NTarn
