// The narrow and wide registry parameter functions share one implementation;
// these traits hold what differs between them: the API calls, the literals
// and the exact message and trace texts.
#pragma once

#include <windows.h>

#include <cstddef>

namespace NTarn {

template <typename Char>
struct RegistryParameterTraits;

template <>
struct RegistryParameterTraits<char> {
  static constexpr const char kTarnPrefix[] = "Software\\Tarn\\";
  static constexpr const char kPolicyRoot[] = "Software\\Policies\\Tarn";
  static constexpr const char kAllocFailure[] = "RegGet alloc failure\n";
  // A missing text in read-only mode: only the first character is cleared.
  static constexpr bool kClearsWholeTextBuffer = false;

  static LSTATUS Open(HKEY root, const char* path, REGSAM access, HKEY* key);
  static LSTATUS Create(HKEY root, const char* path, REGSAM access, HKEY* key);
  static LSTATUS Query(HKEY key, const char* name, DWORD* type, BYTE* data,
                       DWORD* size);
  static LSTATUS Set(HKEY key, const char* name, DWORD type, const void* data,
                     DWORD size);
  static LSTATUS DeleteValue(HKEY key, const char* name);
  static DWORD Expand(const char* source, char* target, DWORD capacity);
  static DWORD ToNumber(const char* text);
  static int CompareNoCase(const char* a, const char* b);
  static bool IsAlwaysTracedName(const char* name);

  static void LogPolicyMismatch(const char* name);
  static void LogWriteFailure(DWORD status, const char* name);
  static void LogMissingKey(DWORD status, const char* path, const char* name);
  static void LogSetFailure(DWORD status, const char* path, const char* name);
  static void TraceNumber(const char* path, const char* name, DWORD value,
                          DWORD previous, bool shortForm);
  static void TraceText(const char* path, const char* name, const char* value,
                        const char* previous, bool shortForm);
  static void TraceSetNumber(const char* path, const char* name, DWORD value);
  static void TraceSetText(const char* path, const char* name,
                           const char* value);
};

template <>
struct RegistryParameterTraits<wchar_t> {
  static constexpr const wchar_t kTarnPrefix[] = L"Software\\Tarn\\";
  static constexpr const wchar_t kPolicyRoot[] = L"Software\\Policies\\Tarn";
  static constexpr const char kAllocFailure[] =
      "RegGetParameterW alloc failure\n";
  static constexpr bool kClearsWholeTextBuffer = true;

  static LSTATUS Open(HKEY root, const wchar_t* path, REGSAM access, HKEY* key);
  static LSTATUS Create(HKEY root, const wchar_t* path, REGSAM access,
                        HKEY* key);
  static LSTATUS Query(HKEY key, const wchar_t* name, DWORD* type, BYTE* data,
                       DWORD* size);
  static LSTATUS Set(HKEY key, const wchar_t* name, DWORD type,
                     const void* data, DWORD size);
  static LSTATUS DeleteValue(HKEY key, const wchar_t* name);
  static DWORD Expand(const wchar_t* source, wchar_t* target, DWORD capacity);
  static DWORD ToNumber(const wchar_t* text);
  static int CompareNoCase(const wchar_t* a, const wchar_t* b);
  static bool IsAlwaysTracedName(const wchar_t* name);

  static void LogPolicyMismatch(const wchar_t* name);
  static void LogWriteFailure(DWORD status, const wchar_t* name);
  static void LogMissingKey(DWORD status, const wchar_t* path,
                            const wchar_t* name);
  static void LogSetFailure(DWORD status, const wchar_t* path,
                            const wchar_t* name);
  static void TraceNumber(const wchar_t* path, const wchar_t* name, DWORD value,
                          DWORD previous, bool shortForm);
  static void TraceText(const wchar_t* path, const wchar_t* name,
                        const wchar_t* value, const wchar_t* previous,
                        bool shortForm);
  static void TraceSetNumber(const wchar_t* path, const wchar_t* name,
                             DWORD value);
  static void TraceSetText(const wchar_t* path, const wchar_t* name,
                           const wchar_t* value);
};

}  // namespace NTarn
