// Base of the simulated client's COM objects: an atomic reference count and
// a process-wide count of live objects, so tests can check that everything
// handed out was released.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <atomic>

namespace vpltest::sim {

std::atomic<long>& LiveObjectCounter();

template <typename... Interfaces>
class SimComObject : public Interfaces... {
 public:
  SimComObject(const SimComObject&) = delete;
  SimComObject& operator=(const SimComObject&) = delete;

  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown) {
      *ppv = First<Interfaces...>();
    } else {
      ((*ppv == nullptr && riid == __uuidof(Interfaces)
            ? (*ppv = static_cast<Interfaces*>(this), 0)
            : 0),
       ...);
    }
    if (!*ppv) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHOD_(ULONG, AddRef)() override {
    return static_cast<ULONG>(++m_refCount);
  }
  STDMETHOD_(ULONG, Release)() override {
    const LONG count = --m_refCount;
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
  }

 protected:
  // Created with one reference, the creator's.
  SimComObject() { ++LiveObjectCounter(); }
  virtual ~SimComObject() { --LiveObjectCounter(); }

 private:
  template <typename FirstInterface, typename... Rest>
  IUnknown* First() {
    return static_cast<FirstInterface*>(this);
  }

  std::atomic<LONG> m_refCount{1};
};

}  // namespace vpltest::sim
