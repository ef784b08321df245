// The least COM object model the library needs: an object root with an
// atomic reference count and an object lock (ComObjectRoot.h), explicit
// interface maps (ComInterfaceMap.h), and the plain and aggregated object
// wrappers that keep the module locked while they live.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <new>
#include <utility>

#include "common/com/ComAggObject.h"
#include "common/com/ComInterfaceMap.h"
#include "common/com/ComObjectRoot.h"
#include "common/com/ModuleLockCount.h"

namespace NTarn {

// A stand-alone object: its own reference count, the module locked while it
// exists. FinalRelease runs before the module is unlocked; the class's
// members are released after.
template <typename T>
class ComObject final : public T {
 public:
  template <typename... Args>
  explicit ComObject(Args&&... args) : T(std::forward<Args>(args)...) {
    ModuleLocks().Lock();
  }
  ~ComObject() {
    this->FinalRelease();
    ModuleLocks().Unlock();
  }

  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
    return QueryInterfaceFromMap<T>(this, riid, ppv);
  }
  STDMETHOD_(ULONG, AddRef)() override {
    return static_cast<ULONG>(++this->m_refCount);
  }
  STDMETHOD_(ULONG, Release)() override {
    const LONG count = --this->m_refCount;
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
  }

  // Creates an object with reference count 0 and its lock initialised; the
  // caller's first QueryInterface takes the first reference.
  template <typename... Args>
  static HRESULT CreateInstance(ComObject** object, Args&&... args) {
    if (!object) return E_POINTER;
    *object = nullptr;
    auto* created = new (std::nothrow) ComObject(std::forward<Args>(args)...);
    if (!created) return E_OUTOFMEMORY;
    created->m_refCount = 1;  // keeps it alive while it finishes constructing
    HRESULT hr = created->InitializeObjectLock();
    if (SUCCEEDED(hr)) hr = created->FinalConstruct();
    created->m_refCount = 0;
    if (FAILED(hr)) {
      delete created;
      return hr;
    }
    *object = created;
    return S_OK;
  }

  // Creates an object and hands out `riid` from it.
  static HRESULT CreateInstance(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    ComObject* created = nullptr;
    HRESULT hr = CreateInstance(&created);
    if (FAILED(hr)) return hr;
    hr = created->QueryInterface(riid, ppv);
    if (FAILED(hr)) delete created;
    return hr;
  }
};

// The creation function of a creatable class: aggregated when an outer
// object is given, plain otherwise.
template <typename T>
HRESULT CreateComInstance(IUnknown* outer, REFIID riid, void** ppv) {
  if (outer) return ComAggObject<T>::CreateInstance(outer, riid, ppv);
  return ComObject<T>::CreateInstance(riid, ppv);
}

}  // namespace NTarn
