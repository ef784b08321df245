#include <windows.h>

#include "plugin/Module.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      return Module().InitFailed() ? FALSE : TRUE;
    case DLL_PROCESS_DETACH:
      // A null `reserved` means FreeLibrary. At process exit the system
      // reclaims everything, and COM may already be torn down.
      if (!reserved) DestroyModule();
      return TRUE;
    default:
      return TRUE;
  }
}
