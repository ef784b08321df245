// Owns one open registry key handle and closes it when it goes.
#pragma once

#include <windows.h>

namespace registration {

class ScopedRegKey {
 public:
  ScopedRegKey() = default;
  explicit ScopedRegKey(HKEY key) : m_key(key) {}
  ~ScopedRegKey() { Reset(); }

  ScopedRegKey(const ScopedRegKey&) = delete;
  ScopedRegKey& operator=(const ScopedRegKey&) = delete;

  HKEY Get() const { return m_key; }

  // Closes the current key and returns the slot for an API to fill.
  HKEY* Receive() {
    Reset();
    return &m_key;
  }

  void Reset() {
    if (m_key) ::RegCloseKey(m_key);
    m_key = nullptr;
  }

 private:
  HKEY m_key = nullptr;
};

}  // namespace registration
