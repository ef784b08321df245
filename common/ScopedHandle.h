// One owner template for every kind of handle the plug-in holds, after
// Chromium's GenericScopedHandle and WIL's unique_any: the traits say what an
// empty handle is and how a handle is closed; the owner closes exactly once.
#pragma once

#include <windows.h>

#include <utility>

namespace NTarn {

template <typename Traits>
class ScopedGenericHandle {
 public:
  using Handle = typename Traits::Handle;

  ScopedGenericHandle() = default;
  // Adopts `handle`.
  explicit ScopedGenericHandle(Handle handle) : m_handle(handle) {}
  ScopedGenericHandle(const ScopedGenericHandle&) = delete;
  ScopedGenericHandle& operator=(const ScopedGenericHandle&) = delete;
  ScopedGenericHandle(ScopedGenericHandle&& other) noexcept
      : m_handle(other.Release()) {}
  ScopedGenericHandle& operator=(ScopedGenericHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  ~ScopedGenericHandle() { Reset(); }

  Handle Get() const { return m_handle; }
  bool IsValid() const { return Traits::IsValid(m_handle); }
  explicit operator bool() const { return IsValid(); }

  // Closes the held handle (if any) and adopts `handle`.
  void Reset(Handle handle = Traits::Empty()) {
    if (handle == m_handle) return;
    const Handle old = std::exchange(m_handle, handle);
    if (Traits::IsValid(old)) Traits::Close(old);
  }

  // Hands the handle to the caller, who closes it.
  [[nodiscard]] Handle Release() {
    return std::exchange(m_handle, Traits::Empty());
  }

  // For out-parameters: closes the held handle and exposes the slot.
  Handle* Receive() {
    Reset();
    return &m_handle;
  }

 private:
  Handle m_handle = Traits::Empty();
};

// Kernel objects: events, threads, timers, tokens. Both NULL and
// INVALID_HANDLE_VALUE read as empty.
struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Empty() { return nullptr; }
  static bool IsValid(Handle handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
  }
  static void Close(Handle handle) { ::CloseHandle(handle); }
};
using ScopedHandle = ScopedGenericHandle<KernelHandleTraits>;

struct RegKeyTraits {
  using Handle = HKEY;
  static Handle Empty() { return nullptr; }
  static bool IsValid(Handle key) { return key != nullptr; }
  static void Close(Handle key) { ::RegCloseKey(key); }
};
using ScopedRegKey = ScopedGenericHandle<RegKeyTraits>;

// Memory the system hands out with LocalAlloc (FormatMessage, security
// descriptors).
struct LocalMemoryTraits {
  using Handle = HLOCAL;
  static Handle Empty() { return nullptr; }
  static bool IsValid(Handle memory) { return memory != nullptr; }
  static void Close(Handle memory) { ::LocalFree(memory); }
};
using ScopedLocalMemory = ScopedGenericHandle<LocalMemoryTraits>;

struct EventSourceTraits {
  using Handle = HANDLE;
  static Handle Empty() { return nullptr; }
  static bool IsValid(Handle source) { return source != nullptr; }
  static void Close(Handle source) { ::DeregisterEventSource(source); }
};
using ScopedEventSource = ScopedGenericHandle<EventSourceTraits>;

}  // namespace NTarn
