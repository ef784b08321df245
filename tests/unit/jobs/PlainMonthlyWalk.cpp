#include "tests/unit/jobs/PlainMonthlyWalk.h"

#include <windows.h>

#include <optional>

#include "common/HResultException.h"
#include "jobs/MonthlyRecurrence.h"
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

}  // namespace

TokenOccurrences PlainMonthlyByWeekday(const CScheduleToken& token,
                                       __time64_t start, __time64_t reference) {
  TokenOccurrences result;
  if (token.months > 12) return result;
  int year = token.year;
  int month = token.month;
  for (;;) {
    const __time64_t t = MonthlyByWeekdayIn(token, year, month);
    if (Take(t, start, reference, &result) || token.months == 0) return result;
    Advance(token.months, &year, &month);
  }
}

TokenOccurrences PlainMonthlyByDate(const CScheduleToken& token,
                                    __time64_t start, __time64_t reference) {
  tm fields{};
  if (_localtime64_s(&fields, &start) != 0) NTarn::ThrowHResult(E_INVALIDARG);
  TokenOccurrences result;
  if (token.months > 12) return result;
  int year = fields.tm_year + 1900;
  int month = fields.tm_mon + 1;
  int skipped = 0;
  for (;;) {
    const std::optional<__time64_t> t =
        MonthlyByDateIn(token, year, month, fields.tm_hour, fields.tm_min);
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
