#include "jobs/AutomationDate.h"

#include <windows.h>
// After windows.h, which it needs.
#include <oleauto.h>

#include <cmath>
#include <cwchar>
#include <optional>

#include "common/HResultException.h"
#include "jobs/TimePattern.h"

namespace {

constexpr size_t kFormatTextSize = 256;
constexpr double kMinutesPerDay = 1440.0;

bool SameSecond(const SYSTEMTIME& a, const SYSTEMTIME& b) {
  return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDay == b.wDay &&
         a.wHour == b.wHour && a.wMinute == b.wMinute && a.wSecond == b.wSecond;
}

// Automation dates before day 0 are not linear (the fraction runs forward
// while the whole part runs backward); arithmetic happens on the linear form.
double ToLinear(double date) {
  if (date >= 0) return date;
  const double whole = std::ceil(date);
  return whole - (date - whole);
}

double FromLinear(double linear) {
  if (linear >= 0) return linear;
  const double whole = std::floor(linear);
  return whole + (whole - linear);
}

}  // namespace

CAutomationDate::CAutomationDate(__time64_t time) {
  tm fields{};
  if (_localtime64_s(&fields, &time) != 0) {
    m_status = kInvalid;
    return;
  }
  SYSTEMTIME system{};
  system.wYear = static_cast<WORD>(fields.tm_year + 1900);
  system.wMonth = static_cast<WORD>(fields.tm_mon + 1);
  system.wDayOfWeek = static_cast<WORD>(fields.tm_wday);
  system.wDay = static_cast<WORD>(fields.tm_mday);
  system.wHour = static_cast<WORD>(fields.tm_hour);
  system.wMinute = static_cast<WORD>(fields.tm_min);
  system.wSecond = static_cast<WORD>(fields.tm_sec);
  const bool converted = ::SystemTimeToVariantTime(&system, &m_date) != 0;
  SYSTEMTIME back{};
  const bool valid = converted &&
                     ::VariantTimeToSystemTime(m_date, &back) != 0 &&
                     SameSecond(system, back);
  m_status = valid ? kValid : kInvalid;
}

CAutomationDate CAutomationDate::SubtractMinutes(int minutes) const {
  const double span = minutes / kMinutesPerDay;
  return CAutomationDate(FromLinear(ToLinear(m_date) - span), kValid);
}

std::wstring CAutomationDate::Format(const wchar_t* pattern) const {
  if (!pattern) NTarn::ThrowHResult(E_INVALIDARG);
  if (m_status == kNull) return std::wstring();
  UDATE split{};
  if (m_status != kValid || FAILED(::VarUdateFromDate(m_date, 0, &split))) {
    return L"Invalid DateTime";
  }
  const std::optional<std::wstring> safe = MakeSafeTimePattern(pattern);
  if (!safe) return std::wstring();
  tm fields{};
  fields.tm_sec = split.st.wSecond;
  fields.tm_min = split.st.wMinute;
  fields.tm_hour = split.st.wHour;
  fields.tm_mday = split.st.wDay;
  fields.tm_mon = split.st.wMonth - 1;
  fields.tm_year = split.st.wYear - 1900;
  fields.tm_wday = split.st.wDayOfWeek;
  fields.tm_yday = split.wDayOfYear - 1;
  fields.tm_isdst = 0;
  wchar_t text[kFormatTextSize] = L"";
  const size_t length =
      std::wcsftime(text, kFormatTextSize, safe->c_str(), &fields);
  // Some runtimes report a text that fills the buffer without its terminator.
  if (length >= kFormatTextSize) return std::wstring();
  return std::wstring(text, length);
}
