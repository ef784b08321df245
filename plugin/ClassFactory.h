// The class object of a creatable class. The module's object map caches one
// reference; while anyone else holds it, the module stays locked.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <atomic>

#include "plugin/Module.h"

class CClassFactory final : public IClassFactory {
 public:
  // Creates a factory whose only reference is the cache's.
  static HRESULT CreateCached(CreateInstanceFunction createInstance,
                              IUnknown** cached);

  CClassFactory(const CClassFactory&) = delete;
  CClassFactory& operator=(const CClassFactory&) = delete;

  // IUnknown
  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
  STDMETHOD_(ULONG, AddRef)() override;
  STDMETHOD_(ULONG, Release)() override;

  // IClassFactory
  STDMETHOD(CreateInstance)(IUnknown* outer, REFIID riid, void** ppv) override;
  STDMETHOD(LockServer)(BOOL lock) override;

 private:
  explicit CClassFactory(CreateInstanceFunction createInstance);
  ~CClassFactory();

  std::atomic<LONG> m_refCount{0};
  const CreateInstanceFunction m_createInstance;
};
