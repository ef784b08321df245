// Owner of one VARIANT: cleared when the wrapper goes away.
#pragma once

#include <windows.h>
#include <oleauto.h>

namespace NTarn {

class ScopedVariant {
 public:
  ScopedVariant() { ::VariantInit(&m_value); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
  ~ScopedVariant() { ::VariantClear(&m_value); }

  const VARIANT& Get() const { return m_value; }
  VARTYPE Type() const { return V_VT(&m_value); }

  // For out-parameters: clears the current value first.
  VARIANT* Receive() {
    ::VariantClear(&m_value);
    return &m_value;
  }
  void Reset() { ::VariantClear(&m_value); }

 private:
  VARIANT m_value;
};

}  // namespace NTarn
