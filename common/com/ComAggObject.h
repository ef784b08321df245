// Aggregation: the object inside an aggregate and the outer object's private,
// non-delegating IUnknown that owns it.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <atomic>
#include <new>

#include "common/com/ComInterfaceMap.h"
#include "common/com/ModuleLockCount.h"

namespace NTarn {

// The object inside an aggregate: its IUnknown is the outer object's.
template <typename T>
class ComContainedObject final : public T {
 public:
  explicit ComContainedObject(IUnknown* outer) : m_outer(outer) {}

  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
    return m_outer->QueryInterface(riid, ppv);
  }
  STDMETHOD_(ULONG, AddRef)() override { return m_outer->AddRef(); }
  STDMETHOD_(ULONG, Release)() override { return m_outer->Release(); }

  HRESULT InternalQueryInterface(REFIID riid, void** ppv) {
    return QueryInterfaceFromMap<T>(this, riid, ppv);
  }

 private:
  IUnknown* const m_outer;  // not counted: the outer object owns us
};

// The aggregation wrapper: the outer object's private, non-delegating
// IUnknown. It answers IUnknown itself and every other IID from the inner
// object's interface map, and keeps the module locked while it lives.
template <typename T>
class ComAggObject final : public IUnknown {
 public:
  explicit ComAggObject(IUnknown* outer) : m_contained(outer) {
    ModuleLocks().Lock();
  }
  ~ComAggObject() {
    m_contained.FinalRelease();
    ModuleLocks().Unlock();
  }

  ComAggObject(const ComAggObject&) = delete;
  ComAggObject& operator=(const ComAggObject&) = delete;

  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown) {
      *ppv = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    return m_contained.InternalQueryInterface(riid, ppv);
  }
  STDMETHOD_(ULONG, AddRef)() override {
    return static_cast<ULONG>(++m_refCount);
  }
  STDMETHOD_(ULONG, Release)() override {
    const LONG count = --m_refCount;
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
  }

  static HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    auto* created = new (std::nothrow) ComAggObject(outer);
    if (!created) return E_OUTOFMEMORY;
    created->m_refCount = 1;
    HRESULT hr = created->m_contained.InitializeObjectLock();
    if (SUCCEEDED(hr)) hr = created->m_contained.FinalConstruct();
    created->m_refCount = 0;
    if (SUCCEEDED(hr)) hr = created->QueryInterface(riid, ppv);
    if (FAILED(hr)) delete created;
    return hr;
  }

 private:
  std::atomic<LONG> m_refCount{0};
  ComContainedObject<T> m_contained;
};

}  // namespace NTarn
