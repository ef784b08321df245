#include "common/SystemHelpers.h"

#include <objbase.h>

namespace NTarn {

HRESULT InitializeComSecurity(BOOL packetLevel) {
  return ::CoInitializeSecurity(
      nullptr, -1, nullptr, nullptr,
      packetLevel ? RPC_C_AUTHN_LEVEL_PKT : RPC_C_AUTHN_LEVEL_NONE,
      RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
}

bool IsWindowsNT() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof(info);
  if (!::GetVersionExA(&info)) return false;
  return info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

}  // namespace NTarn
