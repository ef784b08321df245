// What a process holds of the system: its threads and its handles, for tests
// that check a stretch of work leaves neither behind.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

namespace vpltest {

// Threads of this process, as a Toolhelp snapshot sees them; -1 when the
// snapshot cannot be taken.
inline int ThreadCount() {
  const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  int count = 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Thread32First(snapshot, &entry); more;
       more = ::Thread32Next(snapshot, &entry)) {
    count += entry.th32OwnerProcessID == ::GetCurrentProcessId();
  }
  ::CloseHandle(snapshot);
  return count;
}

// Wine answers GetProcessHandleCount with 0 whatever the process holds, so
// the handles are counted by asking after each value a handle can take (Wine
// hands out the lowest free multiple of four).
inline int HandleCount() {
  DWORD count = 0;
  if (::GetProcessHandleCount(::GetCurrentProcess(), &count) && count != 0)
    return static_cast<int>(count);
  DWORD flags = 0;
  for (UINT_PTR value = 4; value < 0x10000; value += 4)
    count += ::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags);
  return static_cast<int>(count);
}

}  // namespace vpltest
