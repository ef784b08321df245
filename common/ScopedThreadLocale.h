// Switches the calling thread's locale and restores the previous one when it
// goes.
#pragma once

#include <windows.h>

namespace NTarn {

class ScopedThreadLocale {
 public:
  explicit ScopedThreadLocale(LCID locale) : m_previous(::GetThreadLocale()) {
    ::SetThreadLocale(locale);
  }
  ~ScopedThreadLocale() { ::SetThreadLocale(m_previous); }

  ScopedThreadLocale(const ScopedThreadLocale&) = delete;
  ScopedThreadLocale& operator=(const ScopedThreadLocale&) = delete;

 private:
  const LCID m_previous;
};

}  // namespace NTarn
