// The two kinds of exception the WMI layer raises. Callers catch
// HResultException on its own and everything else with a catch-all.
#pragma once

#include <windows.h>

namespace NTarn {

// A failed WMI or COM call: carries the HRESULT and nothing else.
class HResultException {
 public:
  explicit HResultException(HRESULT hr) : m_hr(hr) {}
  HRESULT Error() const { return m_hr; }

 private:
  HRESULT m_hr;
};

// Allocation or text-conversion failure inside the string helpers.
class ComErrorException {
 public:
  explicit ComErrorException(HRESULT hr) : m_hr(hr) {}
  HRESULT Error() const { return m_hr; }

 private:
  HRESULT m_hr;
};

[[noreturn]] inline void ThrowHResult(HRESULT hr) {
  throw HResultException(hr);
}

}  // namespace NTarn
