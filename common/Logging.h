// Diagnostic lines, the debug switch word, time stamps, event log entries,
// error texts and string resources.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

namespace NTarn {

// Process-wide switch word for optional messages; rewritten from the "debug"
// registry value whenever settings are read. Holds 9 until then.
extern std::atomic<uint32_t> DebugFlags;

namespace debug_flags {
constexpr uint32_t kAutoPowerDownAttempts = 0x1;
constexpr uint32_t kRegistryTrace = 0x8;
constexpr uint32_t kVerbose = 0x10;
constexpr uint32_t kThreadLifetime = 0x40;
constexpr uint32_t kRequestCompletion = 0x100;
}  // namespace debug_flags

inline bool IsDebugFlagSet(uint32_t bit) {
  return (DebugFlags.load(std::memory_order_relaxed) & bit) != 0;
}

// Forwards a printf-style line to the host's exported vLogPrintf; "%T" in the
// format is the host's time stamp. Returns 0 when the host exports no logger.
int LogMessage(const char* format, ...);

// Local date and time as "<short date> hh:mm:ss" (and ".mmm" for the Ms form).
// A null buffer selects one of two per-thread buffers in turn, so one line can
// carry two stamps. A zero file time means now; any other is shown unchanged.
char* FormatTimeStamp(char* buffer, size_t size, ULONGLONG fileTime);
char* FormatTimeStampMs(char* buffer, size_t size, ULONGLONG fileTime);

// Writes one event with three insertion strings (null ones become empty) under
// the "Vesperline" source.
void WriteEventLog(WORD type, DWORD eventId, const char* insertion1,
                   const char* insertion2, const char* insertion3);

void ReportInsufficientMemory(const char* where);

// One-line system text for a Win32 error (0 means the thread's last error), or
// "Error 0x%08lx". The text lives in a per-thread buffer until the next call.
const char* FormatErrorText(DWORD error);
const wchar_t* FormatErrorTextW(DWORD error);

// Copies string resource `id` of this module into `buffer`; returns the
// number of characters copied, 0 (and an empty text) when it does not exist.
int LoadStringResource(UINT id, wchar_t* buffer, int capacity);
int LoadStringResourceA(UINT id, char* buffer, int capacity);

// Where vLogPrintf is looked up; null (the default) means the process's main
// executable. Only tests point it elsewhere.
void SetLogHostModuleForTesting(HMODULE module);

}  // namespace NTarn
