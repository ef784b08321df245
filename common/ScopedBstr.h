// Owner of one BSTR: freed when the owner goes away. Constructed from a wide
// text it holds a copy; it adopts a BSTR only through Reset or Receive.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <utility>

namespace NTarn {

class ScopedBstr {
 public:
  ScopedBstr() = default;
  // A copy of `text`; null for a null text. A failed allocation leaves it
  // null too, so callers that need the copy check IsNull.
  explicit ScopedBstr(const wchar_t* text)
      : m_value(text ? ::SysAllocString(text) : nullptr) {}
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

  // For out-parameters: frees the current string and exposes the slot.
  BSTR* Receive() {
    Reset();
    return &m_value;
  }
  // Frees the current string and adopts `value`.
  void Reset(BSTR value = nullptr) {
    const BSTR old = std::exchange(m_value, value);
    if (old && old != value) ::SysFreeString(old);
  }
  // Hands the string to the caller, who frees it.
  [[nodiscard]] BSTR Release() { return std::exchange(m_value, nullptr); }

 private:
  BSTR m_value = nullptr;
};

}  // namespace NTarn
