#pragma once

#include <windows.h>

namespace NTarn {

// The module this code is linked into: the plug-in DLL in production, the
// test program in unit tests. Resources are loaded from it.
inline HMODULE GetCurrentModule() {
  static const char kAnchor = 0;
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&kAnchor), &module);
  return module;
}

// A reference of the caller's own on that module, for a thread that must keep
// the library loaded until it has ended; the thread gives it up with
// FreeLibraryAndExitThread.
inline HMODULE ReferenceCurrentModule() {
  static const char kAnchor = 0;
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(&kAnchor), &module);
  return module;
}

}  // namespace NTarn
