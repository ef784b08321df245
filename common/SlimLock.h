// An exclusive slim reader/writer lock that std::lock_guard can take. It
// needs no initialisation, so a process-wide one is valid before any
// constructor runs.
#pragma once

#include <windows.h>

namespace NTarn {

class SlimLock {
 public:
  constexpr SlimLock() = default;
  SlimLock(const SlimLock&) = delete;
  SlimLock& operator=(const SlimLock&) = delete;

  // BasicLockable, for the standard guards. Not re-entrant.
  void lock() { ::AcquireSRWLockExclusive(&m_lock); }
  void unlock() { ::ReleaseSRWLockExclusive(&m_lock); }

 private:
  SRWLOCK m_lock = SRWLOCK_INIT;
};

}  // namespace NTarn
