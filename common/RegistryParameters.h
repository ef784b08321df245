// Settings under HKEY_LOCAL_MACHINE, each overridable by a group-policy value
// of the same name below "Software\Policies\Tarn".
#pragma once

#include <windows.h>

namespace NTarn {

namespace reg_flags {
// Trace the value when it differs from the caller's default.
constexpr DWORD kTraceChanged = 0x01;
// Trace the value always.
constexpr DWORD kTraceAlways = 0x02;
// The value comes from the policy key (set by RegGetPolicyParameter).
constexpr DWORD kFromPolicy = 0x04;
// Read-only mode: keep the caller's default when the value is missing.
constexpr DWORD kKeepDefault = 0x10;
// Trace every value that is present; unchanged ones in the short form.
constexpr DWORD kTracePresent = 0x20;
// Trace in the short form (without the previous value).
constexpr DWORD kShortTrace = 0x40;
// Read-only: never create the key, never write or convert the value.
constexpr DWORD kReadOnly = 0x80;
}  // namespace reg_flags

// Reads `valueName` of `subKey` into `buffer`, which holds the caller's
// default on entry and `bufferSize` bytes. Unless read-only, a missing key or
// value is created with the default and a value of the wrong type is repaired.
// Returns the status of the last registry operation when non-zero, else 1
// when the value differs from the default and 0 when it does not; the thread's
// last error carries the status.
DWORD GetRegParameter(HKEY root, const char* subKey, const char* valueName,
                      DWORD type, void* buffer, DWORD bufferSize, DWORD flags);
DWORD GetRegParameterW(HKEY root, const wchar_t* subKey,
                       const wchar_t* valueName, DWORD type, void* buffer,
                       DWORD bufferSize, DWORD flags);

// As GetRegParameter, but a value of the same name in the policy twin of a
// key below "Software\Tarn\" wins and is read without ever being written.
DWORD RegGetPolicyParameter(HKEY root, const char* subKey,
                            const char* valueName, DWORD type, void* buffer,
                            DWORD bufferSize, DWORD flags);
DWORD RegGetPolicyParameter(HKEY root, const wchar_t* subKey,
                            const wchar_t* valueName, DWORD type, void* buffer,
                            DWORD bufferSize, DWORD flags);

// Replaces the value, creating the key when needed. Texts are written with
// their terminator whatever `dataSize` says. Flag 0x02 traces the value.
// Returns the status of opening or creating the key.
DWORD SetRegParameter(HKEY root, const char* subKey, const char* valueName,
                      DWORD type, const void* data, DWORD dataSize,
                      DWORD flags);
DWORD SetRegParameter(HKEY root, const wchar_t* subKey,
                      const wchar_t* valueName, DWORD type, const void* data,
                      DWORD dataSize, DWORD flags);

// Deletes one value if its key opens; always returns 1.
BOOL DeleteRegParameter(HKEY root, const char* subKey, const char* valueName);
BOOL DeleteRegParameter(HKEY root, const wchar_t* subKey,
                        const wchar_t* valueName);

// Narrow: the text is "ON", "YES", "TRUE" or "1". Wide: the text begins with
// one of them. Case is ignored.
bool IsTrueString(const char* text);
bool IsTrueString(const wchar_t* text);

}  // namespace NTarn
