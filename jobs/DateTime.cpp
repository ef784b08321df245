#include "jobs/DateTime.h"

#include <windows.h>

#include <cwchar>

#include "common/HResultException.h"
#include "jobs/TimePattern.h"

using NTarn::ThrowHResult;

namespace {

constexpr size_t kLocalTimeTextSize = 128;

constexpr int64_t kDaysPer400Years = 146097;
// Days from 1 March of year 0 to 1 January 1970.
constexpr int64_t kEpochFromMarchOfYear0 = 719468;

tm LocalFields(__time64_t time) {
  tm fields{};
  if (_localtime64_s(&fields, &time) != 0) ThrowHResult(E_INVALIDARG);
  return fields;
}

int64_t FloorDivide(int64_t value, int64_t divisor) {
  const int64_t quotient = value / divisor;
  return quotient * divisor > value ? quotient - 1 : quotient;
}

// The runtime's broken-down time of calendar fields (month 1-12).
tm CalendarFields(int year, int month, int day, int hour, int minute,
                  int second) {
  tm fields{};
  fields.tm_year = year - 1900;
  fields.tm_mon = month - 1;
  fields.tm_mday = day;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = second;
  return fields;
}

}  // namespace

__time64_t MakeLocalTime(int year, int month, int day, int hour, int minute,
                         int second, int daylightSaving) {
  if (year < 1900 || month < 1 || month > 12 || day < 1 || day > 31 ||
      hour > 23 || minute > 59 || second > 59) {
    ThrowHResult(E_FAIL);
  }
  tm fields = CalendarFields(year, month, day, hour, minute, second);
  fields.tm_isdst = daylightSaving;
  const __time64_t time = _mktime64(&fields);
  if (time == -1) ThrowHResult(E_INVALIDARG);
  return time;
}

__time64_t MakeUtcTime(int year, int month, int day, int hour, int minute,
                       int second) {
  tm fields = CalendarFields(year, month, day, hour, minute, second);
  const __time64_t time = _mkgmtime64(&fields);
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

// The years are counted from March, so that a leap day ends its year, in
// cycles of 400 years that repeat the Gregorian calendar exactly.
int64_t DayNumber(int year, int month, int day) {
  const int64_t marchYear = static_cast<int64_t>(year) - (month <= 2 ? 1 : 0);
  const int64_t cycle = FloorDivide(marchYear, 400);
  const int64_t yearOfCycle = marchYear - cycle * 400;
  const int64_t monthFromMarch = (month + 9) % 12;
  const int64_t dayOfYear = (153 * monthFromMarch + 2) / 5 + day - 1;
  const int64_t dayOfCycle =
      yearOfCycle * 365 + yearOfCycle / 4 - yearOfCycle / 100 + dayOfYear;
  return cycle * kDaysPer400Years + dayOfCycle - kEpochFromMarchOfYear0;
}

CalendarDate DateOfDayNumber(int64_t dayNumber) {
  const int64_t fromMarch = dayNumber + kEpochFromMarchOfYear0;
  const int64_t cycle = FloorDivide(fromMarch, kDaysPer400Years);
  const int64_t dayOfCycle = fromMarch - cycle * kDaysPer400Years;
  const int64_t yearOfCycle =
      (dayOfCycle - dayOfCycle / 1460 + dayOfCycle / 36524 -
       dayOfCycle / (kDaysPer400Years - 1)) /
      365;
  const int64_t dayOfYear =
      dayOfCycle - (365 * yearOfCycle + yearOfCycle / 4 - yearOfCycle / 100);
  const int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
  CalendarDate date;
  date.day = static_cast<int>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
  date.month = static_cast<int>(monthFromMarch < 10 ? monthFromMarch + 3
                                                    : monthFromMarch - 9);
  date.year =
      static_cast<int>(cycle * 400 + yearOfCycle + (date.month <= 2 ? 1 : 0));
  return date;
}

int DayOfWeekOfDayNumber(int64_t dayNumber) {
  // 1 January 1970 was a Thursday.
  constexpr int64_t kThursday = 4;
  return static_cast<int>(dayNumber + kThursday -
                          FloorDivide(dayNumber + kThursday, 7) * 7) +
         1;
}

int64_t LocalDayNumber(__time64_t time) {
  const tm fields = LocalFields(time);
  return DayNumber(fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday);
}

TimeOfDay LocalTimeOfDay(__time64_t time) {
  const tm fields = LocalFields(time);
  return TimeOfDay{fields.tm_hour, fields.tm_min, fields.tm_sec};
}

__time64_t MakeLocalTimeOnDay(int64_t dayNumber, const TimeOfDay& time) {
  const CalendarDate date = DateOfDayNumber(dayNumber);
  return MakeLocalTime(date.year, date.month, date.day, time.hour, time.minute,
                       time.second, kDstAutomatic);
}
