// The plug-in DLL as a host sees it: loaded from a path, reached through its
// exports only.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <string>

namespace vpltest {

class PluginDll {
 public:
  // Loads VplCMgr.dll from the folder of the test program, once per process.
  static PluginDll& Get();

  HMODULE Handle() const { return m_module; }
  std::wstring Path() const { return m_path; }
  HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) const;
  HRESULT CanUnloadNow() const;

 private:
  PluginDll();

  std::wstring m_path;
  HMODULE m_module = nullptr;
  HRESULT(STDAPICALLTYPE* m_getClassObject)(REFCLSID, REFIID, void**) = nullptr;
  HRESULT(STDAPICALLTYPE* m_canUnloadNow)() = nullptr;
};

}  // namespace vpltest
