// Small process-wide helpers of the support library.
#pragma once

#include <windows.h>

namespace NTarn {

// Sets the process's COM security: no descriptor, automatic authentication
// services, packet-level authentication when `packetLevel` is set (none
// otherwise), impersonation allowed. Returns CoInitializeSecurity's result.
HRESULT InitializeComSecurity(BOOL packetLevel);

// Whether the system reports the NT platform.
bool IsWindowsNT();

}  // namespace NTarn
