// Text conversions for what vplhost prints.
#pragma once

#include <windows.h>

#include <string>

namespace vplhost {

// UTF-8 of a wide text; "(null)" for a null pointer.
std::string Narrow(const wchar_t* text);
inline std::string Narrow(const std::wstring& text) {
  return Narrow(text.c_str());
}
// The system's text for an error code, without its line break; empty when
// the system has none.
std::string SystemText(DWORD code);
// "0x80070005 (Access is denied)", or the code alone without a system text.
std::string HResultText(HRESULT hr);

// The host's log format with its "%T" directive (no directive of the
// runtime's) replaced by `stamp`, ready for the runtime's formatting.
std::string ExpandTimeStamp(const char* format, const std::string& stamp);

}  // namespace vplhost
