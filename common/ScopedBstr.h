// Owner of one BSTR: freed when the wrapper goes away.
#pragma once

#include <windows.h>
#include <oleauto.h>

namespace NTarn {

class ScopedBstr {
 public:
  ScopedBstr() = default;
  // Takes ownership of `value`.
  explicit ScopedBstr(BSTR value) : m_value(value) {}
  ScopedBstr(const ScopedBstr&) = delete;
  ScopedBstr& operator=(const ScopedBstr&) = delete;
  ScopedBstr(ScopedBstr&& other) noexcept : m_value(other.Release()) {}
  ScopedBstr& operator=(ScopedBstr&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  ~ScopedBstr() { Reset(); }

  BSTR Get() const { return m_value; }
  UINT Length() const { return ::SysStringLen(m_value); }
  bool IsNull() const { return m_value == nullptr; }

  // For out-parameters: frees the current string first.
  BSTR* Receive() {
    Reset();
    return &m_value;
  }
  void Reset(BSTR value = nullptr) {
    if (m_value && m_value != value) ::SysFreeString(m_value);
    m_value = value;
  }
  BSTR Release() {
    BSTR value = m_value;
    m_value = nullptr;
    return value;
  }

 private:
  BSTR m_value = nullptr;
};

}  // namespace NTarn
