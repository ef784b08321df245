// The one exception type of the WMI and date layers: a failed call, carried
// as its HRESULT and nothing else. Raise it through ThrowHResult; catch it at
// the edge with GuardedCall (common/GuardedCall.h).
#pragma once

#include <windows.h>

namespace NTarn {

class HResultException {
 public:
  explicit HResultException(HRESULT hr) : m_hr(hr) {}
  HRESULT Error() const { return m_hr; }

 private:
  HRESULT m_hr;
};

[[noreturn]] inline void ThrowHResult(HRESULT hr) {
  throw HResultException(hr);
}

inline void ThrowIfFailed(HRESULT hr) {
  if (FAILED(hr)) ThrowHResult(hr);
}

}  // namespace NTarn
