// Occurrence rules away from daylight-saving changes, so that they hold in
// any zone the tests run in.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "jobs/DateTime.h"
#include "jobs/Schedule.h"
#include "tests/support/PinnedClock.h"
#include "tests/support/TokenText.h"

namespace {

using vpltest::TokenFields;
using vpltest::TokenStart;
using vpltest::TokenText;

constexpr __time64_t kUnset = -7;
constexpr __time64_t kHour = 3600;
constexpr __time64_t kDay = 86400;

__time64_t Local(int year, int month, int day, int hour, int minute = 0,
                 int second = 0) {
  return MakeLocalTime(year, month, day, hour, minute, second, kDstAutomatic);
}

// Not checked by a row.
constexpr __time64_t kAny = -8;

// A token of `type` starting at the local time given, with the type's own
// fields in this order: Interval days, hours, minutes; Weekly weekday, weeks;
// MonthlyByWeekday weekday, week order, months; MonthlyByDate day, months;
// OneTime duration hours.
TokenFields F(int type, uint32_t year, uint32_t month, uint32_t day,
              uint32_t hour, uint32_t minute, uint32_t a = 0, uint32_t b = 0,
              uint32_t c = 0) {
  TokenFields f = TokenStart(year, month, day, hour, minute, type);
  switch (type) {
    case Interval:
      f.interval_days = a, f.interval_hours = b, f.interval_minutes = c;
      break;
    case Weekly:
      f.weekday = a, f.weeks = b;
      break;
    case MonthlyByWeekday:
      f.weekday = a, f.week_order = b, f.months = c;
      break;
    case MonthlyByDate:
      f.month_day = a, f.months = b;
      break;
    default:
      f.duration_hours = a;
  }
  return f;
}
template <typename... Fields>
std::wstring T(Fields... fields) {
  return TokenText(F(fields...));
}

TEST(ScheduleOccurrences, AroundTheReference) {
  const std::wstring hourly = T(Interval, 2012, 6, 5, 10, 0, 0, 1);
  TokenFields lasting = F(Interval, 2012, 6, 5, 10, 0, 0, 1);
  lasting.duration_days = 1, lasting.duration_hours = 2,
  lasting.duration_minutes = 3;
  TokenFields from1971 = F(Interval, 1971, 6, 5, 10, 0, 0, 1);
  const std::wstring mondays =
      T(Weekly, 2012, 6, 6, 8, 0, 2, 1);  // from a Wednesday
  const std::wstring lastDay = T(MonthlyByDate, 2033, 2, 10, 9, 0, 0, 12);
  const std::wstring leapDay = T(MonthlyByDate, 2032, 2, 29, 9, 0, 29, 12);
  const std::wstring once = T(OneTime, 2012, 6, 5, 10, 0, 2),
                     past = T(OneTime, 2012, 6, 5, 10, 0);
  const std::wstring first = T(OneTime, 2012, 6, 5, 10, 0, 1),
                     second = T(OneTime, 2012, 6, 5, 10, 0, 2);
  const std::wstring earlier = T(OneTime, 2012, 6, 3, 10, 0),
                     later = T(OneTime, 2012, 6, 9, 10, 0);
  const __time64_t start = Local(2012, 6, 5, 10), june4 = Local(2012, 6, 4, 0);
  // clang-format off
  const struct { const char* name; std::wstring text; __time64_t reference; int found; __time64_t next, end, last; } rows[] = {
      {"hourly", hourly, Local(2012, 6, 5, 12), 1, Local(2012, 6, 5, 13), CSchedule::kNoNext, Local(2012, 6, 5, 12)},
      {"hourly, a second on", hourly, Local(2012, 6, 5, 12, 0, 1), -1, Local(2012, 6, 5, 13), kAny, Local(2012, 6, 5, 12)},
      {"hourly, before the start", hourly, Local(2012, 6, 5, 9), -1, start, kAny, kUnset},
      {"hourly, at the start", hourly, start, -1, start, kAny, start},
      // Seventy years after its start, more seconds than 32 bits hold.
      {"beyond 2038", TokenText(from1971), Local(2041, 6, 5, 12), 1, Local(2041, 6, 5, 13), kAny, Local(2041, 6, 5, 12)},
      {"mixed interval", T(Interval, 2012, 6, 5, 10, 0, 1, 2, 30), Local(2012, 6, 6, 12, 30), -1, Local(2012, 6, 7, 15), kAny,
       Local(2012, 6, 6, 12, 30)},
      // No interval: every second once the start has passed.
      {"no interval", T(Interval, 2012, 6, 5, 10, 0), Local(2012, 6, 5, 11), -1, Local(2012, 6, 5, 11) + 1, kAny, Local(2012, 6, 5, 11)},
      {"duration", TokenText(lasting), Local(2012, 6, 5, 12, 30), -1, Local(2012, 6, 5, 13),
       Local(2012, 6, 5, 13) + kDay + 2 * kHour + 3 * 60, kAny},
      {"Mondays at the start", mondays, Local(2012, 6, 6, 8), -1, Local(2012, 6, 11, 8), kAny, Local(2012, 6, 6, 8)},
      // The last start counts whole weeks from the Wednesday itself.
      {"Mondays later", mondays, Local(2012, 6, 14, 9), -1, Local(2012, 6, 18, 8), kAny, Local(2012, 6, 13, 8)},
      {"Mondays before", mondays, Local(2012, 6, 1, 8), -1, Local(2012, 6, 11, 8), kAny, kUnset},
      {"every other Wednesday", T(Weekly, 2012, 6, 6, 8, 0, 4, 2), Local(2012, 6, 10, 0), -1, Local(2012, 6, 20, 8), kAny,
       Local(2012, 6, 6, 8)},
      {"last Friday", T(MonthlyByWeekday, 2012, 6, 1, 9, 30, 6, 0, 1), Local(2012, 7, 1, 0), -1, Local(2012, 7, 27, 9, 30), kAny,
       Local(2012, 6, 29, 9, 30)},
      // April 2012 starts on a Sunday, October on a Monday; a fifth Sunday of
      // February 2012 runs on into March.
      {"second Tuesday", T(MonthlyByWeekday, 2012, 4, 1, 8, 0, 3, 2, 1), Local(2012, 4, 2, 0), -1, Local(2012, 4, 10, 8), kAny, kAny},
      {"first Monday", T(MonthlyByWeekday, 2012, 9, 1, 8, 0, 2, 1, 1), Local(2012, 9, 4, 0), -1, Local(2012, 10, 1, 8), kAny, kAny},
      {"fifth Sunday", T(MonthlyByWeekday, 2012, 2, 1, 8, 0, 1, 5, 1), Local(2012, 2, 2, 0), -1, Local(2012, 3, 4, 8), kAny, kAny},
      // Every third month from 20 June: 4 June lies before the start.
      {"from the start", T(MonthlyByWeekday, 2012, 6, 20, 7, 0, 2, 1, 3), Local(2012, 6, 21, 0), -1, Local(2012, 9, 3, 7), kAny, kUnset},
      {"from the start, later", T(MonthlyByWeekday, 2012, 6, 20, 7, 0, 2, 1, 3), Local(2012, 9, 4, 0), -1, kAny, kAny, Local(2012, 9, 3, 7)},
      {"31st skips June", T(MonthlyByDate, 2012, 5, 31, 9, 0, 31, 1), Local(2012, 6, 1, 0), -1, Local(2012, 7, 31, 9), kAny,
       Local(2012, 5, 31, 9)},
      {"last day", T(MonthlyByDate, 2012, 6, 15, 9, 0, 0, 1), Local(2012, 7, 1, 0), -1, Local(2012, 7, 31, 9), kAny, Local(2012, 6, 30, 9)},
      // February of century years has 28 days, of 2096 and 2104 29.
      {"2100", lastDay, Local(2100, 3, 15, 0), 1, Local(2101, 2, 28, 9), kAny, Local(2100, 2, 28, 9)},
      {"2096", lastDay, Local(2096, 3, 1, 0), -1, kAny, kAny, Local(2096, 2, 29, 9)},
      {"29th before 2104", leapDay, Local(2104, 1, 1, 0), -1, kAny, kAny, Local(2096, 2, 29, 9)},
      {"29th in 2104", leapDay, Local(2104, 3, 1, 0), -1, kAny, kAny, Local(2104, 2, 29, 9)},
      {"29th in 2033", leapDay, Local(2033, 1, 1, 0), -1, Local(2036, 2, 29, 9), kAny, Local(2032, 2, 29, 9)},
      // No month between occurrences: the start month only.
      {"by date once", T(MonthlyByDate, 2012, 6, 5, 9, 0, 20), Local(2012, 6, 1, 0), 1, Local(2012, 6, 20, 9), kAny, kAny},
      {"by date done", T(MonthlyByDate, 2012, 6, 5, 9, 0, 20), Local(2013, 1, 1, 0), 0, kUnset, kAny, Local(2012, 6, 20, 9)},
      {"by weekday done", T(MonthlyByWeekday, 2012, 6, 1, 9, 0, 2, 1), Local(2012, 6, 10, 0), 0, kAny, kAny, Local(2012, 6, 4, 9)},
      {"after the first Monday", T(MonthlyByWeekday, 2012, 6, 5, 9, 0, 2, 1), Local(2012, 6, 10, 0), 0, kAny, kAny, kUnset},
      // More than twelve months between occurrences, or days no visited month has.
      {"13 months by weekday", T(MonthlyByWeekday, 2012, 6, 1, 9, 0, 2, 1, 13), Local(2013, 6, 1, 0), 0, kAny, kAny, kUnset},
      {"13 months by date", T(MonthlyByDate, 2012, 6, 1, 9, 0, 10, 13), Local(2013, 6, 1, 0), 0, kAny, kAny, kUnset},
      {"April 31", T(MonthlyByDate, 2012, 4, 1, 9, 0, 31, 12), Local(2020, 6, 1, 0), 0, kAny, kAny, kUnset},
      {"June 31", T(MonthlyByDate, 2012, 6, 1, 9, 0, 31, 12), Local(2020, 6, 1, 0), 0, kAny, kAny, kUnset},
      {"September 31", T(MonthlyByDate, 2012, 9, 1, 9, 0, 31, 12), Local(2020, 6, 1, 0), 0, kAny, kAny, kUnset},
      {"November 31", T(MonthlyByDate, 2012, 11, 1, 9, 0, 31, 12), Local(2020, 6, 1, 0), 0, kAny, kAny, kUnset},
      {"February 30", T(MonthlyByDate, 2012, 2, 1, 9, 0, 30, 12), Local(2020, 6, 1, 0), 0, kAny, kAny, kUnset},
      {"February 31", T(MonthlyByDate, 2012, 2, 1, 9, 0, 31, 12), Local(2020, 6, 1, 0), 0, kAny, kAny, kUnset},
      {"six months to October 31", T(MonthlyByDate, 2012, 4, 1, 9, 0, 31, 6), Local(2012, 5, 1, 0), -1, Local(2012, 10, 31, 9), kAny, kAny},
      {"one time at the reference", once, start, 1, start, start + 2 * kHour, kUnset},
      {"one time before it", once, start + 1, 0, kUnset, kUnset, start},
      // Equal next starts: the end belongs to the first token in the list.
      {"equal starts", first + second, june4, -1, kAny, start + kHour, kAny},
      {"equal starts swapped", second + first, june4, -1, kAny, start + 2 * kHour, kAny},
      // The earliest next and the latest last win, in any order; a later
      // interval occurrence exactly at the reference is the last start.
      {"combined", later + earlier + first + T(Interval, 2012, 6, 1, 10, 0, 0, 1), june4, -1, Local(2012, 6, 4, 1), kAny, june4},
      {"combined one-time", later + earlier + first, june4, -1, start, kAny, Local(2012, 6, 3, 10)},
      // A token without a local start (day 0) drops out, as does a monthly
      // walk past the runtime's last representable year (3015).
      {"no start", T(OneTime, 2012, 6, 0, 10, 0) + past, Local(2012, 7, 1, 0), 0, kAny, kAny, start},
      {"far future", T(MonthlyByDate, 2012, 6, 5, 10, 0, 5, 1) + past, 33000000000LL, 0, kAny, kAny, start},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    CSchedule schedule(row.text.c_str());
    EXPECT_FALSE(schedule.tokens().empty());
    __time64_t next = kUnset, end = kUnset, last = kUnset;
    const bool found =
        schedule.GetOccurrences(&next, &end, &row.reference, &last);
    if (row.found >= 0) EXPECT_EQ(row.found == 1, found);
    if (row.next != kAny) EXPECT_EQ(row.next, next);
    if (row.end != kAny) EXPECT_EQ(row.end, end);
    if (row.last != kAny) EXPECT_EQ(row.last, last);
  }
}

TEST(ScheduleOccurrences, OptionalOutputs) {
  CSchedule schedule(T(Interval, 2012, 6, 5, 10, 0, 0, 1).c_str());
  const __time64_t reference = Local(2012, 6, 5, 12, 30);
  __time64_t next = kUnset;
  __time64_t last = kUnset;
  EXPECT_FALSE(schedule.GetOccurrences(nullptr, nullptr, &reference, &last));
  EXPECT_EQ(kUnset, last);
  EXPECT_TRUE(schedule.GetOccurrences(&next, nullptr, &reference, nullptr));
  EXPECT_EQ(Local(2012, 6, 5, 13), next);

  // Without a reference the clock decides.
  vpltest::PinnedClock clock(Local(2012, 6, 5, 14, 0, 1));
  EXPECT_TRUE(schedule.GetOccurrences(&next, nullptr, nullptr, &last));
  EXPECT_EQ(Local(2012, 6, 5, 15), next);
  EXPECT_EQ(Local(2012, 6, 5, 14), last);

  CSchedule empty(L"");
  next = kUnset;
  EXPECT_FALSE(empty.GetOccurrences(&next, nullptr, &reference, &last));
  EXPECT_EQ(kUnset, next);
}

}  // namespace
