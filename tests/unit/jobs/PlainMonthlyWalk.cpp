#include "tests/unit/jobs/PlainMonthlyWalk.h"

#include <windows.h>

#include <optional>

#include "common/HResultException.h"
#include "jobs/ScheduleToken.h"

namespace vpltest {

namespace {

// A day of the month missing this many months in a row is missing from every
// visited month (the longest real gap is February 29th across a century).
constexpr int kHopelessSkips = 120;

void Advance(int months, int* year, int* month) {
  *month += months;
  if (*month > 12) {
    *month -= 12;
    *year += 1;
  }
}

// Takes one month's occurrence; true when the walk stops.
bool Take(__time64_t t, __time64_t start, __time64_t reference,
          TokenOccurrences* result) {
  if (t < start) return false;
  if (t >= reference) {
    result->has_next = true;
    result->next = t;
    return true;
  }
  result->has_last = true;
  result->last = t;
  return false;
}

// The local time of the fields as the runtime normalises them: a day past the
// month's end (or day 0, the last day of the month before) lands on the right
// date. `normalised` receives the fields with their weekday.
__time64_t LocalTime(int year, int month, int day, const tm& timeOfDay,
                     tm* normalised = nullptr) {
  tm fields{};
  fields.tm_year = year - 1900;
  fields.tm_mon = month - 1;
  fields.tm_mday = day;
  fields.tm_hour = timeOfDay.tm_hour;
  fields.tm_min = timeOfDay.tm_min;
  fields.tm_sec = timeOfDay.tm_sec;
  fields.tm_isdst = -1;
  const __time64_t time = _mktime64(&fields);
  if (time == -1) NTarn::ThrowHResult(E_INVALIDARG);
  if (normalised) *normalised = fields;
  return time;
}

// The fields of a day at noon, clear of daylight-saving changes.
tm DayAtNoon(int year, int month, int day) {
  tm noon{};
  noon.tm_hour = 12;
  tm fields{};
  LocalTime(year, month, day, noon, &fields);
  return fields;
}

tm StartFields(__time64_t start) {
  tm fields{};
  if (_localtime64_s(&fields, &start) != 0) NTarn::ThrowHResult(E_INVALIDARG);
  return fields;
}

// The weekday of the token's week, or of the last week, in one month, then
// the token's offset days later.
__time64_t ByWeekdayIn(const CScheduleToken& token, int year, int month,
                       const tm& timeOfDay) {
  if (token.week_order != 0) {
    const tm first = DayAtNoon(year, month, 1);
    int offset = token.weekday - (first.tm_wday + 1);
    if (offset < 0) offset += 7;
    const int days = offset + 7 * token.week_order - 7;
    return LocalTime(year, month, 1 + (days > 0 ? days : 0) + token.offset_days,
                     timeOfDay);
  }
  const tm lastDay = DayAtNoon(year, month + 1, 0);
  int back = lastDay.tm_wday + 1 - token.weekday;
  if (back < 0) back += 7;
  return LocalTime(year, month, lastDay.tm_mday - back + token.offset_days,
                   timeOfDay);
}

std::optional<__time64_t> ByDateIn(const CScheduleToken& token, int year,
                                   int month, const tm& timeOfDay) {
  const int lastDay = DayAtNoon(year, month + 1, 0).tm_mday;
  if (token.month_day > lastDay) return std::nullopt;
  return LocalTime(year, month, token.month_day ? token.month_day : lastDay,
                   timeOfDay);
}

}  // namespace

TokenOccurrences PlainMonthlyByWeekday(const CScheduleToken& token,
                                       __time64_t start, __time64_t reference) {
  const tm timeOfDay = StartFields(start);
  TokenOccurrences result;
  if (token.months > 12) return result;
  int year = token.year;
  int month = token.month;
  for (;;) {
    const __time64_t t = ByWeekdayIn(token, year, month, timeOfDay);
    if (Take(t, start, reference, &result) || token.months == 0) return result;
    Advance(token.months, &year, &month);
  }
}

TokenOccurrences PlainMonthlyByDate(const CScheduleToken& token,
                                    __time64_t start, __time64_t reference) {
  const tm fields = StartFields(start);
  TokenOccurrences result;
  if (token.months > 12) return result;
  int year = fields.tm_year + 1900;
  int month = fields.tm_mon + 1;
  int skipped = 0;
  for (;;) {
    const std::optional<__time64_t> t = ByDateIn(token, year, month, fields);
    if (t) {
      skipped = 0;
      if (Take(*t, start, reference, &result)) return result;
    } else if (++skipped > kHopelessSkips) {
      return TokenOccurrences();
    }
    if (token.months == 0) return result;
    Advance(token.months, &year, &month);
  }
}

}  // namespace vpltest
