#include "plugin/Module.h"

#include "plugin/ClassFactory.h"
#include "plugin/ConfigMgrPlugin.h"
#include "plugin/HostContract.h"
#include "plugin/RegistryReplacements.h"
#include "plugin/resource.h"

CVplCMgrModule::CVplCMgrModule() {
  m_initFailed = !::InitializeCriticalSectionEx(&m_lock, 0, 0);
}

CVplCMgrModule::~CVplCMgrModule() {
  Term();
  if (!m_initFailed) ::DeleteCriticalSection(&m_lock);
}

LONG CVplCMgrModule::Lock() { return ++m_lockCount; }

LONG CVplCMgrModule::Unlock() { return --m_lockCount; }

LONG CVplCMgrModule::GetLockCount() { return m_lockCount.load(); }

HRESULT CVplCMgrModule::GetGITPtr(IGlobalInterfaceTable** git) {
  if (!git) return E_POINTER;
  *git = nullptr;
  HRESULT hr = S_OK;
  ::EnterCriticalSection(&m_lock);
  if (!m_git) {
    hr = ::CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr,
                            CLSCTX_INPROC_SERVER, IID_IGlobalInterfaceTable,
                            reinterpret_cast<void**>(&m_git));
  }
  if (m_git) {
    m_git->AddRef();
    *git = m_git;
  }
  ::LeaveCriticalSection(&m_lock);
  return hr;
}

HRESULT CVplCMgrModule::AddCommonRGSReplacements(
    RegistryReplacements* replacements) {
  if (!replacements) return E_POINTER;
  replacements->Add(L"APPID", kVplCMgrAppId);
  return S_OK;
}

HRESULT CVplCMgrModule::GetClassObject(REFCLSID clsid, REFIID riid,
                                       void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  for (ObjectMapEntry* entry = ObjectMap(); entry->clsid; ++entry) {
    if (*entry->clsid != clsid) continue;
    HRESULT hr = S_OK;
    ::EnterCriticalSection(&m_lock);
    if (!entry->classFactory) {
      hr = CClassFactory::CreateCached(entry->createInstance,
                                       &entry->classFactory);
    }
    ::LeaveCriticalSection(&m_lock);
    if (FAILED(hr)) return hr;
    return entry->classFactory->QueryInterface(riid, ppv);
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

void CVplCMgrModule::Term() {
  if (m_terminated || m_initFailed) return;
  m_terminated = true;
  for (ObjectMapEntry* entry = ObjectMap(); entry->clsid; ++entry) {
    if (entry->classFactory) {
      entry->classFactory->Release();
      entry->classFactory = nullptr;
    }
  }
  if (m_git) {
    m_git->Release();
    m_git = nullptr;
  }
}

// Created on first use and never destroyed by the runtime's exit handlers: at
// process exit COM may already be gone, so only an unload ends the module.
CVplCMgrModule& Module() {
  static CVplCMgrModule* const module = new CVplCMgrModule;
  return *module;
}

void DestroyModule() { delete &Module(); }

ObjectMapEntry* ObjectMap() {
  static ObjectMapEntry map[] = {
      {&CLSID_ConfigMgrPlugin, &CConfigMgrPlugin::CreateInstance,
       IDR_CONFIGMGRPLUGIN, nullptr},
      {nullptr, nullptr, 0, nullptr},
  };
  return map;
}
