#include "jobs/WindowKeeping.h"

#include <cwctype>

#include "common/wmi/WbemProperty.h"

namespace {

constexpr wchar_t kOpenTag[] = L"<overrideservicewindows>";
constexpr wchar_t kTaskSequenceClass[] = L"CCM_TaskSequence";
constexpr wchar_t kProgramClass[] = L"CCM_SoftwareDistribution";

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

std::wstring Trimmed(const std::wstring& text) {
  const size_t first = text.find_first_not_of(L" \t\r\n");
  if (first == std::wstring::npos) return std::wstring();
  const size_t last = text.find_last_not_of(L" \t\r\n");
  return text.substr(first, last - first + 1);
}

}  // namespace

std::optional<std::wstring> OverrideServiceWindowsOf(
    const std::wstring& requirements) {
  const std::wstring lower = Lower(requirements);
  const size_t open = lower.find(kOpenTag);
  if (open == std::wstring::npos) return std::nullopt;
  const size_t start = open + (sizeof(kOpenTag) / sizeof(wchar_t) - 1);
  const size_t end = lower.find(L'<', start);
  if (end == std::wstring::npos) return std::nullopt;
  return Trimmed(requirements.substr(start, end - start));
}

std::optional<WindowWork> WindowKeepingOf(IWbemClassObject* policy) {
  if (!policy) return std::nullopt;
  NTarn::WbemProperty className;
  if (FAILED(className.Read(policy, L"__CLASS"))) return std::nullopt;
  std::optional<WindowWork> work;
  if (_wcsicmp(className.Text().c_str(), kTaskSequenceClass) == 0)
    work = WindowWork::kTaskSequence;
  else if (_wcsicmp(className.Text().c_str(), kProgramClass) == 0)
    work = WindowWork::kProgram;
  if (!work) return std::nullopt;

  NTarn::WbemProperty requirements;
  if (FAILED(requirements.Read(policy, L"PRG_Requirements")))
    return std::nullopt;
  const std::optional<std::wstring> override =
      OverrideServiceWindowsOf(requirements.Text());
  if (!override || _wcsicmp(override->c_str(), L"FALSE") != 0)
    return std::nullopt;
  return work;
}
