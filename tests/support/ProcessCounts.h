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

inline int HandleCount() {
  DWORD count = 0;
  return ::GetProcessHandleCount(::GetCurrentProcess(), &count)
             ? static_cast<int>(count)
             : -1;
}

}  // namespace vpltest
