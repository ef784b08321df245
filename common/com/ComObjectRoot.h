// Base of every COM class of the library: an atomic reference count and the
// object lock of the multi-threaded model.
#pragma once

#include <windows.h>

#include <atomic>

#include "common/CriticalSection.h"

namespace NTarn {

class ComObjectRoot {
 public:
  ComObjectRoot(const ComObjectRoot&) = delete;
  ComObjectRoot& operator=(const ComObjectRoot&) = delete;

  // The lock of the multi-threaded model, initialised when the object is
  // created and deleted with it. Objects whose fields host threads read and
  // write at once take it through a guard: std::lock_guard guard(*this).
  HRESULT InitializeObjectLock() { return m_objectLock.Initialize(); }
  void lock() { m_objectLock.lock(); }
  void unlock() { m_objectLock.unlock(); }

  // Extra construction work that can fail; classes hide it when they need it.
  HRESULT FinalConstruct() { return S_OK; }
  // Last work before destruction, done while the object still holds the
  // module lock: a class that runs a thread stops it here, so the library
  // cannot be unloaded under it.
  void FinalRelease() {}

  LONG RefCountForTesting() const { return m_refCount.load(); }

 protected:
  ComObjectRoot() = default;
  ~ComObjectRoot() = default;

  std::atomic<LONG> m_refCount{0};

 private:
  CriticalSection m_objectLock;
};

}  // namespace NTarn
