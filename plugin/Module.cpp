#include "plugin/Module.h"

#include <mutex>
#include <new>
#include <utility>

#include "common/com/ModuleLockCount.h"
#include "plugin/ClassFactory.h"
#include "plugin/ConfigMgrPlugin.h"
#include "contract/HostContract.h"
#include "plugin/registration/RegistryReplacements.h"
#include "plugin/resource.h"

namespace {

size_t ObjectMapSize() {
  size_t size = 0;
  while (ObjectMap()[size].clsid) ++size;
  return size;
}

}  // namespace

CVplCMgrModule::CVplCMgrModule()
    : m_classFactories(new (std::nothrow)
                           Microsoft::WRL::ComPtr<IUnknown>[ObjectMapSize()]) {
  m_initFailed = FAILED(m_lock.Initialize()) || !m_classFactories;
}

CVplCMgrModule::~CVplCMgrModule() { Term(); }

LONG CVplCMgrModule::Lock() { return NTarn::ModuleLocks().Lock(); }

LONG CVplCMgrModule::Unlock() { return NTarn::ModuleLocks().Unlock(); }

LONG CVplCMgrModule::GetLockCount() { return NTarn::ModuleLocks().Get(); }

HRESULT CVplCMgrModule::GetGITPtr(IGlobalInterfaceTable** git) {
  if (!git) return E_POINTER;
  *git = nullptr;
  {
    std::lock_guard<NTarn::CriticalSection> guard(m_lock);
    if (m_git) return m_git.CopyTo(git);
  }
  // Created outside the lock, which guards only the cached pointer; a racing
  // first caller's table is the same process-wide object.
  Microsoft::WRL::ComPtr<IGlobalInterfaceTable> created;
  const HRESULT hr =
      ::CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr,
                         CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&created));
  if (FAILED(hr)) return hr;
  std::lock_guard<NTarn::CriticalSection> guard(m_lock);
  if (!m_git) m_git = std::move(created);
  return m_git.CopyTo(git);
}

HRESULT CVplCMgrModule::AddCommonRGSReplacements(
    registration::RegistryReplacements* replacements) {
  if (!replacements) return E_POINTER;
  replacements->Add(L"APPID", kVplCMgrAppId);
  return S_OK;
}

HRESULT CVplCMgrModule::GetClassObject(REFCLSID clsid, REFIID riid,
                                       void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  const ObjectMapEntry* map = ObjectMap();
  for (size_t index = 0; map[index].clsid; ++index) {
    if (*map[index].clsid != clsid) continue;
    // The factory is the module's own object: asking it under the lock
    // keeps Term from releasing it in between.
    std::lock_guard<NTarn::CriticalSection> guard(m_lock);
    Microsoft::WRL::ComPtr<IUnknown>& cached = m_classFactories[index];
    if (!cached) {
      const HRESULT hr = CClassFactory::CreateCached(
          map[index].createInstance, cached.ReleaseAndGetAddressOf());
      if (FAILED(hr)) return hr;
    }
    return cached->QueryInterface(riid, ppv);
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

void CVplCMgrModule::Term() {
  if (m_terminated || m_initFailed) return;
  m_terminated = true;
  const size_t size = ObjectMapSize();
  for (size_t index = 0; index < size; ++index) m_classFactories[index].Reset();
  m_git.Reset();
}

// Created on first use and never destroyed by the runtime's exit handlers: at
// process exit COM may already be gone, so only an unload ends the module.
CVplCMgrModule& Module() {
  static CVplCMgrModule* const module = new CVplCMgrModule;
  return *module;
}

void DestroyModule() { delete &Module(); }

const ObjectMapEntry* ObjectMap() {
  static const ObjectMapEntry map[] = {
      {&CLSID_ConfigMgrPlugin, &CConfigMgrPlugin::CreateInstance,
       IDR_CONFIGMGRPLUGIN},
      {nullptr, nullptr, 0},
  };
  return map;
}
