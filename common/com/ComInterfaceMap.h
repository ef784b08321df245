// Explicit interface maps, checked at compile time: a class lists the
// interfaces it answers, and QueryInterface walks that list.
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace NTarn {

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

}  // namespace NTarn
