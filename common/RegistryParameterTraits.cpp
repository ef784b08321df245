#include "common/RegistryParameterTraits.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "common/Logging.h"

namespace NTarn {
namespace {

// Wide text traces show at most this many characters of each text.
constexpr size_t kTraceTextLimit = 1000;
// The debug bit that adds a character dump to wide text traces.
constexpr uint32_t kHexDumpFlag = 0x100;

std::wstring CutForTrace(const wchar_t* text, size_t length) {
  if (length <= kTraceTextLimit) return text;
  return std::wstring(text, kTraceTextLimit) + L"...";
}

}  // namespace

// Narrow form.

LSTATUS RegistryParameterTraits<char>::Open(HKEY root, const char* path,
                                            REGSAM access, HKEY* key) {
  return ::RegOpenKeyExA(root, path, 0, access, key);
}

LSTATUS RegistryParameterTraits<char>::Create(HKEY root, const char* path,
                                              REGSAM access, HKEY* key) {
  return ::RegCreateKeyExA(root, path, 0, const_cast<char*>(""),
                           REG_OPTION_NON_VOLATILE, access, nullptr, key,
                           nullptr);
}

LSTATUS RegistryParameterTraits<char>::Query(HKEY key, const char* name,
                                             DWORD* type, BYTE* data,
                                             DWORD* size) {
  return ::RegQueryValueExA(key, name, nullptr, type, data, size);
}

LSTATUS RegistryParameterTraits<char>::Set(HKEY key, const char* name,
                                           DWORD type, const void* data,
                                           DWORD size) {
  return ::RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data),
                          size);
}

LSTATUS RegistryParameterTraits<char>::DeleteValue(HKEY key, const char* name) {
  return ::RegDeleteValueA(key, name);
}

DWORD RegistryParameterTraits<char>::Expand(const char* source, char* target,
                                            DWORD capacity) {
  return ::ExpandEnvironmentStringsA(source, target, capacity);
}

DWORD RegistryParameterTraits<char>::ToNumber(const char* text) {
  return static_cast<DWORD>(strtoul(text, nullptr, 10));
}

int RegistryParameterTraits<char>::CompareNoCase(const char* a, const char* b) {
  return _stricmp(a, b);
}

bool RegistryParameterTraits<char>::IsAlwaysTracedName(const char* name) {
  return _stricmp(name, "TraceEnabled") == 0 || _stricmp(name, "Debug") == 0;
}

void RegistryParameterTraits<char>::LogPolicyMismatch(const char* name) {
  LogMessage("Error: RegGetPolicyParameter %s\n", name);
}

void RegistryParameterTraits<char>::LogWriteFailure(DWORD status,
                                                    const char* name) {
  LogMessage("GetRegParameter_3 %s - %s\n", FormatErrorText(status), name);
}

void RegistryParameterTraits<char>::LogMissingKey(DWORD status,
                                                  const char* path,
                                                  const char* name) {
  LogMessage("GetRegParameter_4 %s - %s\\%s\n", FormatErrorText(status), path,
             name);
}

void RegistryParameterTraits<char>::LogSetFailure(DWORD status,
                                                  const char* path,
                                                  const char* name) {
  LogMessage("SetRegParameter \"%s\\%s\" - %s\n", path, name,
             FormatErrorText(status));
}

void RegistryParameterTraits<char>::TraceNumber(const char* path,
                                                const char* name, DWORD value,
                                                DWORD previous,
                                                bool shortForm) {
  if (shortForm) {
    LogMessage("%s\\%s=%u (0x%08lx)\n", path, name, value, value);
  } else {
    LogMessage("%s\\%s=%u (0x%08lx) previous %u\n", path, name, value, value,
               previous);
  }
}

void RegistryParameterTraits<char>::TraceText(const char* path,
                                              const char* name,
                                              const char* value,
                                              const char* previous,
                                              bool shortForm) {
  if (shortForm) {
    LogMessage("%s\\%s=\"%s\"\n", path, name, value);
  } else {
    LogMessage("%s\\%s=\"%s\" previous \"%s\"\n", path, name, value, previous);
  }
}

void RegistryParameterTraits<char>::TraceSetNumber(const char* path,
                                                   const char* name,
                                                   DWORD value) {
  LogMessage("Set %s\\%s=%d (0x%08lx)\n", path, name, static_cast<int>(value),
             value);
}

void RegistryParameterTraits<char>::TraceSetText(const char* path,
                                                 const char* name,
                                                 const char* value) {
  LogMessage("Set %s\\%s=\"%s\"\n", path, name, value);
}

// Wide form.

LSTATUS RegistryParameterTraits<wchar_t>::Open(HKEY root, const wchar_t* path,
                                               REGSAM access, HKEY* key) {
  return ::RegOpenKeyExW(root, path, 0, access, key);
}

LSTATUS RegistryParameterTraits<wchar_t>::Create(HKEY root, const wchar_t* path,
                                                 REGSAM access, HKEY* key) {
  return ::RegCreateKeyExW(root, path, 0, const_cast<wchar_t*>(L""),
                           REG_OPTION_NON_VOLATILE, access, nullptr, key,
                           nullptr);
}

LSTATUS RegistryParameterTraits<wchar_t>::Query(HKEY key, const wchar_t* name,
                                                DWORD* type, BYTE* data,
                                                DWORD* size) {
  return ::RegQueryValueExW(key, name, nullptr, type, data, size);
}

LSTATUS RegistryParameterTraits<wchar_t>::Set(HKEY key, const wchar_t* name,
                                              DWORD type, const void* data,
                                              DWORD size) {
  return ::RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data),
                          size);
}

LSTATUS RegistryParameterTraits<wchar_t>::DeleteValue(HKEY key,
                                                      const wchar_t* name) {
  return ::RegDeleteValueW(key, name);
}

DWORD RegistryParameterTraits<wchar_t>::Expand(const wchar_t* source,
                                               wchar_t* target,
                                               DWORD capacity) {
  return ::ExpandEnvironmentStringsW(source, target, capacity);
}

DWORD RegistryParameterTraits<wchar_t>::ToNumber(const wchar_t* text) {
  return static_cast<DWORD>(wcstoul(text, nullptr, 10));
}

int RegistryParameterTraits<wchar_t>::CompareNoCase(const wchar_t* a,
                                                    const wchar_t* b) {
  return _wcsicmp(a, b);
}

bool RegistryParameterTraits<wchar_t>::IsAlwaysTracedName(const wchar_t* name) {
  return _wcsicmp(name, L"TraceEnabled") == 0 || _wcsicmp(name, L"Debug") == 0;
}

void RegistryParameterTraits<wchar_t>::LogPolicyMismatch(const wchar_t* name) {
  LogMessage("Error: RegGetPolicyParameter %ls\n", name);
}

void RegistryParameterTraits<wchar_t>::LogWriteFailure(DWORD status,
                                                       const wchar_t* name) {
  LogMessage("GetRegParameterW_3 %s - %ls\n", FormatErrorText(status), name);
}

void RegistryParameterTraits<wchar_t>::LogMissingKey(DWORD status,
                                                     const wchar_t* path,
                                                     const wchar_t* name) {
  LogMessage("GetRegParameterW_4 %s - %ls\\%ls\n", FormatErrorText(status),
             path, name);
}

void RegistryParameterTraits<wchar_t>::LogSetFailure(DWORD status,
                                                     const wchar_t* path,
                                                     const wchar_t* name) {
  LogMessage("SetRegParameter \"%ls\\%ls\" - %ls\n", path, name,
             FormatErrorTextW(status));
}

void RegistryParameterTraits<wchar_t>::TraceNumber(const wchar_t* path,
                                                   const wchar_t* name,
                                                   DWORD value, DWORD previous,
                                                   bool shortForm) {
  if (shortForm) {
    LogMessage("%ls\\%ls=%d (0x%08lx)\n", path, name, static_cast<int>(value),
               value);
  } else {
    LogMessage("%ls\\%ls=%d (0x%08lx) previous %d\n", path, name,
               static_cast<int>(value), value, static_cast<int>(previous));
  }
}

void RegistryParameterTraits<wchar_t>::TraceText(const wchar_t* path,
                                                 const wchar_t* name,
                                                 const wchar_t* value,
                                                 const wchar_t* previous,
                                                 bool shortForm) {
  const size_t valueLength = wcslen(value);
  const size_t previousLength = wcslen(previous);
  if (valueLength > kTraceTextLimit || previousLength > kTraceTextLimit) {
    const std::wstring cutValue = CutForTrace(value, valueLength);
    const std::wstring cutPrevious = CutForTrace(previous, previousLength);
    if (shortForm) {
      LogMessage("%ls\\%ls=\"%ls\" (len: %u)\r", path, name, cutValue.c_str(),
                 static_cast<unsigned>(valueLength));
    } else {
      LogMessage("%ls\\%ls=\"%ls\" (len: %u) previous \"%ls\" (len: %u)\r",
                 path, name, cutValue.c_str(),
                 static_cast<unsigned>(valueLength), cutPrevious.c_str(),
                 static_cast<unsigned>(previousLength));
    }
    LogMessage("\n");
    return;
  }
  if (shortForm) {
    LogMessage("%ls\\%ls=\"%ls\"\r", path, name, value);
  } else {
    LogMessage("%ls\\%ls=\"%ls\" previous \"%ls\"\r", path, name, value,
               previous);
  }
  if (IsDebugFlagSet(kHexDumpFlag)) {
    LogMessage(" (Hex values: %ls, %ls", path, name);
    for (size_t i = 0; value[i]; ++i) {
      LogMessage("%s0x%X", i ? "," : "", static_cast<unsigned>(value[i]));
    }
    LogMessage(")");
  }
  LogMessage("\n");
}

void RegistryParameterTraits<wchar_t>::TraceSetNumber(const wchar_t* path,
                                                      const wchar_t* name,
                                                      DWORD value) {
  LogMessage("Set %ls\\%ls=%d (0x%08lx)\n", path, name, static_cast<int>(value),
             value);
}

void RegistryParameterTraits<wchar_t>::TraceSetText(const wchar_t* path,
                                                    const wchar_t* name,
                                                    const wchar_t* value) {
  LogMessage("Set %ls\\%ls=\"%ls\"\n", path, name, value);
}

}  // namespace NTarn
