// The plug-in DLL as a host sees it: loaded from a path, reached through its
// exports only.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <wrl/client.h>

#include <string>

#include "tests/support/HostDoubles.h"

namespace vpltest {

class PluginDll {
 public:
  // Loads VplCMgr.dll from the folder of the test program, once per process.
  static PluginDll& Get();

  HMODULE Handle() const { return m_module; }
  std::wstring Path() const { return m_path; }
  HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) const;
  HRESULT CanUnloadNow() const;
  // A new plug-in from the DLL's class factory.
  Microsoft::WRL::ComPtr<IVesperlinePlugin> CreatePlugin() const;
  // The host lets go of what it holds: only the test's references remain and
  // the DLL can be unloaded.
  void ExpectReleased(FakeHost& host) const;

 private:
  PluginDll();

  std::wstring m_path;
  HMODULE m_module = nullptr;
  HRESULT(STDAPICALLTYPE* m_getClassObject)(REFCLSID, REFIID, void**) = nullptr;
  HRESULT(STDAPICALLTYPE* m_canUnloadNow)() = nullptr;
};

}  // namespace vpltest
