// The module object: one per loaded library. It answers from the library's
// lock count (common/com/ModuleLockCount.h) whether the library may unload,
// and owns the class factories it has handed out for the object map's
// classes.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <wrl/client.h>

#include <memory>

#include "common/CriticalSection.h"

namespace registration {
class RegistryReplacements;
}

// The registry-script "APPID" of the library.
constexpr wchar_t kVplCMgrAppId[] = L"{0D433AD8-6F36-49BC-8D55-B88FFD0D0C6F}";

using CreateInstanceFunction = HRESULT (*)(IUnknown* outer, REFIID riid,
                                           void** ppv);

// One creatable class: its CLSID, its creation function and its registry
// script (resource type "REGISTRY").
struct ObjectMapEntry {
  const CLSID* clsid;
  CreateInstanceFunction createInstance;
  UINT registryScriptId;
};

class CVplCMgrModule {
 public:
  CVplCMgrModule();
  virtual ~CVplCMgrModule();

  CVplCMgrModule(const CVplCMgrModule&) = delete;
  CVplCMgrModule& operator=(const CVplCMgrModule&) = delete;

  // Virtual slots in the order other code in the module relies on. The lock
  // count is the library's one count, which the object model also raises.
  virtual LONG Lock();
  virtual LONG Unlock();
  virtual LONG GetLockCount();
  virtual HRESULT GetGITPtr(IGlobalInterfaceTable** git);
  virtual HRESULT AddCommonRGSReplacements(
      registration::RegistryReplacements* replacements);

  // True when the module's own start-up failed; the library then refuses to
  // load.
  bool InitFailed() const { return m_initFailed; }

  // Looks the CLSID up in the object map, creating and caching its class
  // factory on first demand, and answers `riid` from the factory.
  HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv);

  // Releases the cached class factories and the global interface table.
  void Term();

 private:
  // Guards the cache and the global interface table.
  NTarn::CriticalSection m_lock;
  bool m_initFailed = false;
  bool m_terminated = false;
  // One slot per object map entry, in map order.
  std::unique_ptr<Microsoft::WRL::ComPtr<IUnknown>[]> m_classFactories;
  Microsoft::WRL::ComPtr<IGlobalInterfaceTable> m_git;
};

CVplCMgrModule& Module();

// Ends the module when the library is unloaded: releases the cached class
// factories and the global interface table, deletes the module's lock.
void DestroyModule();

// The module's object map: the classes it can create, ending with an entry
// whose clsid is null.
const ObjectMapEntry* ObjectMap();
