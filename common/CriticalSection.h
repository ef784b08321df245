// A critical section that std::lock_guard and std::unique_lock can take, so
// that no code pairs Enter and Leave by hand.
#pragma once

#include <windows.h>

namespace NTarn {

class CriticalSection {
 public:
  CriticalSection() = default;
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;
  ~CriticalSection() {
    if (m_initialized) ::DeleteCriticalSection(&m_section);
  }

  // Returns the failure when the section cannot be initialised; it must not
  // be taken then.
  HRESULT Initialize() {
    if (m_initialized) return S_OK;
    if (!::InitializeCriticalSectionEx(&m_section, 0, 0)) {
      return HRESULT_FROM_WIN32(::GetLastError());
    }
    m_initialized = true;
    return S_OK;
  }
  bool IsInitialized() const { return m_initialized; }

  // BasicLockable, for the standard guards.
  void lock() { ::EnterCriticalSection(&m_section); }
  void unlock() { ::LeaveCriticalSection(&m_section); }
  bool try_lock() { return ::TryEnterCriticalSection(&m_section) != FALSE; }

 private:
  CRITICAL_SECTION m_section{};
  bool m_initialized = false;
};

}  // namespace NTarn
