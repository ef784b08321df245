#include "jobs/SMSJobsDetector.h"

#include <algorithm>
#include <cwctype>
#include <string>

namespace {

constexpr wchar_t kUnknownPart[] = L"????";

void Trim(std::wstring& text) {
  size_t start = 0;
  while (start < text.size() && std::iswspace(text[start])) ++start;
  size_t end = text.size();
  while (end > start && std::iswspace(text[end - 1])) --end;
  text = text.substr(start, end - start);
}

// The content of the first element `name` in the trigger message's markup:
// what follows the name and the one character after it (normally '>'), up to
// the next '<'.
std::wstring ElementContent(const std::wstring& message, const wchar_t* name) {
  const size_t found = message.find(name);
  if (found == std::wstring::npos) return kUnknownPart;
  const size_t start = found + std::char_traits<wchar_t>::length(name) + 1;
  std::wstring content = start < message.size() ? message.substr(start) : L"";
  Trim(content);
  content.erase(0, content.find_first_not_of(L'>'));
  content.erase(std::min(content.find(L'<'), content.size()));
  Trim(content);
  return content;
}

}  // namespace

CSMSJobsDetector::JobNameParts CSMSJobsDetector::TriggerJobParts(
    const std::wstring& message) {
  return {ElementContent(message, L"AdvertisementID"),
          ElementContent(message, L"PackageID"),
          ElementContent(message, L"ProgramID")};
}

std::wstring CSMSJobsDetector::FormatTriggerJobName(
    const std::wstring& message) {
  const JobNameParts parts = TriggerJobParts(message);
  return L"[" + parts.advertisement + L"/" + parts.package + L"/" +
         parts.program + L"]";
}

std::wstring CSMSJobsDetector::JobNameOf(const std::wstring& message) {
  return message.empty() ? std::wstring(L"Unknown Advert/Package/Program")
                         : FormatTriggerJobName(message);
}
