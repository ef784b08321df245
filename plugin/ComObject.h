// The least COM object model the plug-in needs: an object root with an atomic
// reference count and an object lock, explicit interface maps, and the plain
// and aggregated object wrappers that keep the module locked while they live.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <atomic>
#include <new>
#include <utility>

#include "common/CriticalSection.h"
#include "plugin/Module.h"

// Base of every COM class of the plug-in.
class ComObjectRoot {
 public:
  ComObjectRoot(const ComObjectRoot&) = delete;
  ComObjectRoot& operator=(const ComObjectRoot&) = delete;

  // The lock of the multi-threaded model, initialised when the object is
  // created and deleted with it. Objects whose fields host threads read and
  // write at once take it through a guard: std::lock_guard guard(*this).
  HRESULT InitializeObjectLock() { return m_objectLock.Initialize(); }
  void lock() { m_objectLock.lock(); }
  void unlock() { m_objectLock.unlock(); }

  // Extra construction work that can fail; classes hide it when they need it.
  HRESULT FinalConstruct() { return S_OK; }
  // Last work before destruction, done while the object still holds the
  // module lock: a class that runs a thread stops it here, so the library
  // cannot be unloaded under it.
  void FinalRelease() {}

  LONG RefCountForTesting() const { return m_refCount.load(); }

 protected:
  ComObjectRoot() = default;
  ~ComObjectRoot() = default;

  std::atomic<LONG> m_refCount{0};

 private:
  NTarn::CriticalSection m_objectLock;
};

// An interface map: the interfaces a class answers, in order. IUnknown is
// answered with the first one; any other IID gets E_NOINTERFACE.
template <typename... Interfaces>
struct ComInterfaceMap {
  template <typename T>
  static IUnknown* Find(T* object, REFIID riid) {
    IUnknown* found = nullptr;
    if (riid == IID_IUnknown) {
      found = First<T, Interfaces...>(object);
    } else {
      ((found == nullptr && riid == __uuidof(Interfaces)
            ? (found = static_cast<Interfaces*>(object), 0)
            : 0),
       ...);
    }
    return found;
  }

 private:
  template <typename T, typename I, typename... Rest>
  static IUnknown* First(T* object) {
    return static_cast<I*>(object);
  }
};

// QueryInterface through the class's map; the AddRef goes through the found
// interface, so an aggregated object's count is the outer object's.
template <typename T>
HRESULT QueryInterfaceFromMap(T* object, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  IUnknown* found = T::InterfaceMap::Find(object, riid);
  if (!found) return E_NOINTERFACE;
  found->AddRef();
  *ppv = found;
  return S_OK;
}

// A stand-alone object: its own reference count, the module locked while it
// exists. FinalRelease runs before the module is unlocked; the class's
// members are released after.
template <typename T>
class ComObject final : public T {
 public:
  template <typename... Args>
  explicit ComObject(Args&&... args) : T(std::forward<Args>(args)...) {
    Module().Lock();
  }
  ~ComObject() {
    this->FinalRelease();
    Module().Unlock();
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
// object's interface map.
template <typename T>
class ComAggObject final : public IUnknown {
 public:
  explicit ComAggObject(IUnknown* outer) : m_contained(outer) {
    Module().Lock();
  }
  ~ComAggObject() {
    m_contained.FinalRelease();
    Module().Unlock();
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

// The creation function of a creatable class: aggregated when an outer
// object is given, plain otherwise.
template <typename T>
HRESULT CreateComInstance(IUnknown* outer, REFIID riid, void** ppv) {
  if (outer) return ComAggObject<T>::CreateInstance(outer, riid, ppv);
  return ComObject<T>::CreateInstance(riid, ppv);
}
