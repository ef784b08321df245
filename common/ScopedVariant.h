// Owner of one VARIANT: cleared when the owner goes away.
#pragma once

#include <windows.h>
#include <oleauto.h>

namespace NTarn {

class ScopedVariant {
 public:
  ScopedVariant() { ::VariantInit(&m_value); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
  // The value moves as it is; the source is left empty.
  ScopedVariant(ScopedVariant&& other) noexcept : m_value(other.m_value) {
    ::VariantInit(&other.m_value);
  }
  ScopedVariant& operator=(ScopedVariant&& other) noexcept {
    if (this != &other) {
      ::VariantClear(&m_value);
      m_value = other.m_value;
      ::VariantInit(&other.m_value);
    }
    return *this;
  }
  ~ScopedVariant() { ::VariantClear(&m_value); }

  const VARIANT& Get() const { return m_value; }
  VARTYPE Type() const { return V_VT(&m_value); }

  // For out-parameters: clears the current value and exposes the slot.
  VARIANT* Receive() {
    ::VariantClear(&m_value);
    return &m_value;
  }
  // Clears the current value.
  void Reset() { ::VariantClear(&m_value); }
  // Hands the value to the caller, who clears it; the owner is left empty.
  [[nodiscard]] VARIANT Release() {
    const VARIANT value = m_value;
    ::VariantInit(&m_value);
    return value;
  }

 private:
  VARIANT m_value;
};

}  // namespace NTarn
