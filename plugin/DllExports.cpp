// The library's exported entry points.
#include <windows.h>
#include <objbase.h>

#include "plugin/Module.h"

STDAPI DllCanUnloadNow() {
  return Module().GetLockCount() == 0 ? S_OK : S_FALSE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  return Module().GetClassObject(rclsid, riid, ppv);
}

// Registration is not built yet.
STDAPI DllRegisterServer() { return E_NOTIMPL; }

STDAPI DllUnregisterServer() { return E_NOTIMPL; }

STDAPI DllInstall(BOOL, LPCWSTR) { return E_NOTIMPL; }
