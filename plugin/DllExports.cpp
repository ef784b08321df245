// The library's exported entry points.
#include <windows.h>
#include <objbase.h>

#include "plugin/Module.h"
#include "plugin/registration/Registration.h"

STDAPI DllCanUnloadNow() {
  return Module().GetLockCount() == 0 ? S_OK : S_FALSE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  return Module().GetClassObject(rclsid, riid, ppv);
}

STDAPI DllRegisterServer() {
  return registration::RegisterServer(
      registration::RegistrationScope::kMachine);
}

STDAPI DllUnregisterServer() {
  return registration::UnregisterServer(
      registration::RegistrationScope::kMachine);
}

STDAPI DllInstall(BOOL install, LPCWSTR commandLine) {
  return registration::InstallServer(install, commandLine);
}
