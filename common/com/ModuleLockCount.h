// What keeps the library loaded: live COM objects, class factories held
// beyond the module's own cache, and LockServer. The object model raises and
// lowers it; the COM server module answers DllCanUnloadNow from it.
#pragma once

#include <windows.h>

#include <atomic>

namespace NTarn {

class ModuleLockCount {
 public:
  constexpr ModuleLockCount() = default;
  ModuleLockCount(const ModuleLockCount&) = delete;
  ModuleLockCount& operator=(const ModuleLockCount&) = delete;

  LONG Lock() { return ++m_count; }
  LONG Unlock() { return --m_count; }
  LONG Get() const { return m_count.load(); }

 private:
  std::atomic<LONG> m_count{0};
};

// The library's one count. Its constructor is constexpr, so the count is
// valid before any constructor runs and after every destructor.
ModuleLockCount& ModuleLocks();

}  // namespace NTarn
