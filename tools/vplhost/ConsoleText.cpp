#include "tools/vplhost/ConsoleText.h"

#include <cstdio>

#include "common/ScopedHandle.h"

namespace vplhost {

std::string Narrow(const wchar_t* text) {
  if (!text) return "(null)";
  const int length =
      ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return std::string();
  std::string narrow(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow.data(), length, nullptr,
                        nullptr);
  narrow.resize(narrow.size() - 1);
  return narrow;
}

std::string SystemText(DWORD code) {
  char* buffer = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  const NTarn::ScopedLocalMemory owner(buffer);
  std::string text(buffer ? buffer : "", length);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' ||
                           text.back() == ' ' || text.back() == '.'))
    text.pop_back();
  return text;
}

std::string HResultText(HRESULT hr) {
  char code[16];
  sprintf_s(code, sizeof(code), "0x%08lx", static_cast<unsigned long>(hr));
  const std::string text = SystemText(static_cast<DWORD>(hr));
  return text.empty() ? std::string(code)
                      : std::string(code) + " (" + text + ")";
}

std::string ExpandTimeStamp(const char* format, const std::string& stamp) {
  std::string expanded;
  for (const char* p = format; *p; ++p) {
    if (p[0] == '%' && p[1] == '%') {
      expanded += "%%";
      ++p;
    } else if (p[0] == '%' && p[1] == 'T') {
      for (const char c : stamp)
        expanded += c == '%' ? "%%" : std::string(1, c);
      ++p;
    } else {
      expanded += *p;
    }
  }
  return expanded;
}

}  // namespace vplhost
