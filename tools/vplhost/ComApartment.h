// The calling thread in COM's multithreaded apartment for one run of a
// command, left when the run's scope ends. Declare it after the plug-in
// library and before any COM object, so that every object is released
// before the apartment is left and the library is freed after.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace vplhost {

class ComApartment {
 public:
  ComApartment() : m_hr(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~ComApartment() {
    if (SUCCEEDED(m_hr)) ::CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

  bool Entered() const { return SUCCEEDED(m_hr); }

 private:
  const HRESULT m_hr;
};

}  // namespace vplhost
