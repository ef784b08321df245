#include "tests/dll/PluginDll.h"

#include <gtest/gtest.h>

namespace vpltest {

PluginDll& PluginDll::Get() {
  static PluginDll dll;
  return dll;
}

PluginDll::PluginDll() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  m_path.assign(path, length);
  m_path.resize(m_path.find_last_of(L"\\/") + 1);
  m_path += L"VplCMgr.dll";
  m_module = LoadLibraryW(m_path.c_str());
  if (!m_module) return;
  m_getClassObject = reinterpret_cast<decltype(m_getClassObject)>(
      GetProcAddress(m_module, "DllGetClassObject"));
  m_canUnloadNow = reinterpret_cast<decltype(m_canUnloadNow)>(
      GetProcAddress(m_module, "DllCanUnloadNow"));
}

HRESULT PluginDll::GetClassObject(REFCLSID clsid, REFIID riid,
                                  void** ppv) const {
  if (!m_getClassObject) return E_UNEXPECTED;
  return m_getClassObject(clsid, riid, ppv);
}

HRESULT PluginDll::CanUnloadNow() const {
  if (!m_canUnloadNow) return E_UNEXPECTED;
  return m_canUnloadNow();
}

Microsoft::WRL::ComPtr<IVesperlinePlugin> PluginDll::CreatePlugin() const {
  Microsoft::WRL::ComPtr<IClassFactory> factory;
  Microsoft::WRL::ComPtr<IVesperlinePlugin> plugin;
  EXPECT_EQ(S_OK,
            GetClassObject(CLSID_ConfigMgrPlugin, IID_PPV_ARGS(&factory)));
  EXPECT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&plugin)));
  return plugin;
}

void PluginDll::ExpectReleased(FakeHost& host) const {
  host.ReleaseHeld();
  EXPECT_TRUE(host.OnlyTestReferencesRemain());
  EXPECT_EQ(S_OK, CanUnloadNow());
}

}  // namespace vpltest
