// Base of the test doubles: a COM object answering the listed interfaces,
// whose reference count a test can read. Create them with MakeFake.
#pragma once

#include <windows.h>
#include <unknwn.h>
#include <wrl/client.h>

#include <atomic>
#include <utility>

#include "common/com/ComInterfaceMap.h"

namespace vpltest {

template <typename... Interfaces>
class FakeComObject : public Interfaces... {
 public:
  FakeComObject(const FakeComObject&) = delete;
  FakeComObject& operator=(const FakeComObject&) = delete;

  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = NTarn::ComInterfaceMap<Interfaces...>::Find(this, riid);
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

  LONG RefCount() const { return m_refCount.load(); }

 protected:
  FakeComObject() = default;
  virtual ~FakeComObject() = default;

 private:
  std::atomic<LONG> m_refCount{0};
};

// Creates a double; the returned pointer holds its only reference. (mingw's
// ComPtr::Attach adds a reference, so the pointer takes the first one.)
template <typename T, typename... Args>
Microsoft::WRL::ComPtr<T> MakeFake(Args&&... args) {
  return Microsoft::WRL::ComPtr<T>(new T(std::forward<Args>(args)...));
}

}  // namespace vpltest
