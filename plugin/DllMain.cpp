#include <windows.h>

#include "plugin/Module.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH && Module().InitFailed()) return FALSE;
  return TRUE;
}
