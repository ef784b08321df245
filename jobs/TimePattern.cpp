#include "jobs/TimePattern.h"

#include <cwchar>

namespace {

// The directives every Windows C runtime formats; '#' may precede them.
constexpr wchar_t kKnownDirectives[] = L"aAbBcdHIjmMpSUwWxXyYzZ%";

bool IsKnownDirective(wchar_t c) {
  return c != L'\0' && std::wcschr(kKnownDirectives, c) != nullptr;
}

}  // namespace

std::optional<std::wstring> MakeSafeTimePattern(const wchar_t* pattern) {
  if (!pattern) return std::nullopt;
  std::wstring safe;
  for (const wchar_t* p = pattern; *p; ++p) {
    if (*p != L'%') {
      safe.push_back(*p);
      continue;
    }
    ++p;
    if (p[0] == L'l' && p[1] == L's') {
      safe.append(L"%S");
      ++p;
      continue;
    }
    safe.push_back(L'%');
    if (*p == L'#') safe.push_back(*p++);
    if (!IsKnownDirective(*p)) return std::nullopt;
    safe.push_back(*p);
  }
  return safe;
}
