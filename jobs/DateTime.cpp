#include "jobs/DateTime.h"

#include <windows.h>

#include <cwchar>

#include "common/HResultException.h"
#include "jobs/TimePattern.h"

using NTarn::ThrowHResult;

namespace {

constexpr size_t kLocalTimeTextSize = 128;

}  // namespace

__time64_t MakeLocalTime(int year, int month, int day, int hour, int minute,
                         int second, int daylightSaving) {
  if (year < 1900 || month < 1 || month > 12 || day < 1 || day > 31 ||
      hour > 23 || minute > 59 || second > 59) {
    ThrowHResult(E_FAIL);
  }
  tm fields{};
  fields.tm_year = year - 1900;
  fields.tm_mon = month - 1;
  fields.tm_mday = day;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = second;
  fields.tm_isdst = daylightSaving;
  const __time64_t time = _mktime64(&fields);
  if (time == -1) ThrowHResult(E_INVALIDARG);
  return time;
}

int GetDayOfWeek(int year, int month, int day) {
  if (year < 1900 || month < 1 || month > 12 || day < 1 || day > 31) {
    ThrowHResult(E_FAIL);
  }
  // Noon keeps the day clear of daylight-saving changes at either end.
  const __time64_t noon =
      MakeLocalTime(year, month, day, 12, 0, 0, kDstAutomatic);
  tm fields{};
  if (_localtime64_s(&fields, &noon) != 0) return 0;
  return fields.tm_wday + 1;
}

std::wstring FormatLocalTime(__time64_t time, const wchar_t* pattern) {
  const std::optional<std::wstring> safe = MakeSafeTimePattern(pattern);
  if (!safe) return std::wstring();
  tm fields{};
  if (_localtime64_s(&fields, &time) != 0) return std::wstring();
  wchar_t text[kLocalTimeTextSize];
  const size_t length =
      std::wcsftime(text, kLocalTimeTextSize, safe->c_str(), &fields);
  // Some runtimes report a text that fills the buffer without its terminator.
  if (length == 0 || length >= kLocalTimeTextSize) return std::wstring();
  return std::wstring(text, length);
}

bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
  switch (month) {
    case 2:
      return IsLeapYear(year) ? 29 : 28;
    case 4:
    case 6:
    case 9:
    case 11:
      return 30;
    default:
      return 31;
  }
}
