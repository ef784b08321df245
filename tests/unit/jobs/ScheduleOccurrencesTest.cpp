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

// A token's text from TokenStart's fields.
template <typename... Fields>
std::wstring T(Fields... fields) {
  return TokenText(TokenStart(fields...));
}

TEST(ScheduleOccurrences, AroundTheReference) {
  const std::wstring hourly = T(2012, 6, 5, 10, 0, Interval, 0, 1);
  TokenFields lasting = TokenStart(2012, 6, 5, 10, 0, Interval, 0, 1);
  lasting.duration_days = 1;
  lasting.duration_hours = 2;
  lasting.duration_minutes = 3;
  TokenFields from1971 = TokenStart(1971, 6, 5, 10, 0, Interval, 0, 1);
  // Mondays from a Wednesday.
  const std::wstring mondays = T(2012, 6, 6, 8, 0, Weekly, 2, 1);
  const std::wstring lastDay = T(2033, 2, 10, 9, 0, MonthlyByDate, 0, 12);
  const std::wstring leapDay = T(2032, 2, 29, 9, 0, MonthlyByDate, 29, 12);
  const std::wstring once = T(2012, 6, 5, 10, 0, OneTime, 2),
                     past = T(2012, 6, 5, 10, 0, OneTime);
  const std::wstring first = T(2012, 6, 5, 10, 0, OneTime, 1),
                     second = T(2012, 6, 5, 10, 0, OneTime, 2);
  const std::wstring earlier = T(2012, 6, 3, 10, 0, OneTime),
                     later = T(2012, 6, 9, 10, 0, OneTime);
  const __time64_t start = Local(2012, 6, 5, 10), june4 = Local(2012, 6, 4, 0);
  // clang-format off
  const struct { const char* name; std::wstring text; __time64_t reference; int found; __time64_t next, end, last; } rows[] = {
      {"hourly", hourly, Local(2012, 6, 5, 12), 1, Local(2012, 6, 5, 13), CSchedule::kNoNext, Local(2012, 6, 5, 12)},
      {"hourly, a second on", hourly, Local(2012, 6, 5, 12, 0, 1), -1, Local(2012, 6, 5, 13), kAny, Local(2012, 6, 5, 12)},
      {"hourly, before the start", hourly, Local(2012, 6, 5, 9), -1, start, kAny, kUnset},
      {"hourly, at the start", hourly, start, -1, start, kAny, start},
      // Seventy years after its start, more seconds than 32 bits hold.
      {"beyond 2038", TokenText(from1971), Local(2041, 6, 5, 12), 1, Local(2041, 6, 5, 13), kAny, Local(2041, 6, 5, 12)},
      {"mixed interval", T(2012, 6, 5, 10, 0, Interval, 1, 2, 30), Local(2012, 6, 6, 12, 30), -1, Local(2012, 6, 7, 15), kAny,
       Local(2012, 6, 6, 12, 30)},
      // No interval: every second once the start has passed.
      {"no interval", T(2012, 6, 5, 10, 0, Interval), Local(2012, 6, 5, 11), -1, Local(2012, 6, 5, 11) + 1, kAny, Local(2012, 6, 5, 11)},
      {"duration", TokenText(lasting), Local(2012, 6, 5, 12, 30), -1, Local(2012, 6, 5, 13),
       Local(2012, 6, 5, 13) + kDay + 2 * kHour + 3 * 60, kAny},
      {"Mondays at the start", mondays, Local(2012, 6, 6, 8), -1, Local(2012, 6, 11, 8), kAny, kUnset},
      // The last start counts whole weeks from the first Monday, not from the Wednesday.
      {"Mondays later", mondays, Local(2012, 6, 14, 9), -1, Local(2012, 6, 18, 8), kAny, Local(2012, 6, 11, 8)},
      // A client's Monday window started on Thursday 1 January 2015.
      {"Mondays from 2015", L"ECE11B41101A2000", Local(2026, 12, 9, 8), -1, Local(2026, 12, 14, 7, 59), kAny, Local(2026, 12, 7, 7, 59)},
      {"Mondays before", mondays, Local(2012, 6, 1, 8), -1, Local(2012, 6, 11, 8), kAny, kUnset},
      // Without a weeks count every second from the first Monday, none before it.
      {"Mondays, no weeks count", T(2012, 6, 6, 8, 0, Weekly, 2), Local(2012, 6, 8, 0), -1, Local(2012, 6, 11, 8), kAny, kUnset},
      {"every other Wednesday", T(2012, 6, 6, 8, 0, Weekly, 4, 2), Local(2012, 6, 10, 0), -1, Local(2012, 6, 20, 8), kAny,
       Local(2012, 6, 6, 8)},
      {"last Friday", T(2012, 6, 1, 9, 30, MonthlyByWeekday, 6, 0, 1), Local(2012, 7, 1, 0), -1, Local(2012, 7, 27, 9, 30), kAny,
       Local(2012, 6, 29, 9, 30)},
      // April 2012 starts on a Sunday, October on a Monday; a fifth Sunday of
      // February 2012 runs on into March.
      {"second Tuesday", T(2012, 4, 1, 8, 0, MonthlyByWeekday, 3, 2, 1), Local(2012, 4, 2, 0), -1, Local(2012, 4, 10, 8), kAny, kAny},
      {"first Monday", T(2012, 9, 1, 8, 0, MonthlyByWeekday, 2, 1, 1), Local(2012, 9, 4, 0), -1, Local(2012, 10, 1, 8), kAny, kAny},
      {"fifth Sunday", T(2012, 2, 1, 8, 0, MonthlyByWeekday, 1, 5, 1), Local(2012, 2, 2, 0), -1, Local(2012, 3, 4, 8), kAny, kAny},
      // Seven days after the last Friday of January and of February 2026.
      {"offset into the next month", T(2026, 1, 1, 9, 0, MonthlyByWeekdayOffset, 6, 0, 1, 7), Local(2026, 2, 10, 0), -1,
       Local(2026, 3, 6, 9), kAny, Local(2026, 2, 6, 9)},
      // Every third month from 20 June: 4 June lies before the start.
      {"from the start", T(2012, 6, 20, 7, 0, MonthlyByWeekday, 2, 1, 3), Local(2012, 6, 21, 0), -1, Local(2012, 9, 3, 7), kAny, kUnset},
      {"from the start, later", T(2012, 6, 20, 7, 0, MonthlyByWeekday, 2, 1, 3), Local(2012, 9, 4, 0), -1, kAny, kAny, Local(2012, 9, 3, 7)},
      {"31st skips June", T(2012, 5, 31, 9, 0, MonthlyByDate, 31, 1), Local(2012, 6, 1, 0), -1, Local(2012, 7, 31, 9), kAny,
       Local(2012, 5, 31, 9)},
      {"last day", T(2012, 6, 15, 9, 0, MonthlyByDate, 0, 1), Local(2012, 7, 1, 0), -1, Local(2012, 7, 31, 9), kAny, Local(2012, 6, 30, 9)},
      // February of century years has 28 days, of 2096 and 2104 29.
      {"2100", lastDay, Local(2100, 3, 15, 0), 1, Local(2101, 2, 28, 9), kAny, Local(2100, 2, 28, 9)},
      {"2096", lastDay, Local(2096, 3, 1, 0), -1, kAny, kAny, Local(2096, 2, 29, 9)},
      {"29th before 2104", leapDay, Local(2104, 1, 1, 0), -1, kAny, kAny, Local(2096, 2, 29, 9)},
      {"29th in 2104", leapDay, Local(2104, 3, 1, 0), -1, kAny, kAny, Local(2104, 2, 29, 9)},
      {"29th in 2033", leapDay, Local(2033, 1, 1, 0), -1, Local(2036, 2, 29, 9), kAny, Local(2032, 2, 29, 9)},
      // No month between occurrences: the start month only.
      {"by date once", T(2012, 6, 5, 9, 0, MonthlyByDate, 20), Local(2012, 6, 1, 0), 1, Local(2012, 6, 20, 9), kAny, kAny},
      {"by date done", T(2012, 6, 5, 9, 0, MonthlyByDate, 20), Local(2013, 1, 1, 0), 0, kUnset, kAny, Local(2012, 6, 20, 9)},
      {"by weekday done", T(2012, 6, 1, 9, 0, MonthlyByWeekday, 2, 1), Local(2012, 6, 10, 0), 0, kAny, kAny, Local(2012, 6, 4, 9)},
      {"after the first Monday", T(2012, 6, 5, 9, 0, MonthlyByWeekday, 2, 1), Local(2012, 6, 10, 0), 0, kAny, kAny, kUnset},
      // More than twelve months between occurrences, or days no visited month has.
      {"13 months by weekday", T(2012, 6, 1, 9, 0, MonthlyByWeekday, 2, 1, 13), Local(2013, 6, 1, 0), 0, kAny, kAny, kUnset},
      {"13 months by date", T(2012, 6, 1, 9, 0, MonthlyByDate, 10, 13), Local(2013, 6, 1, 0), 0, kAny, kAny, kUnset},
      {"April 31", T(2012, 4, 1, 9, 0, MonthlyByDate, 31, 12), Local(2020, 6, 1, 0), 0, kAny, kAny, kUnset},
      {"June 31", T(2012, 6, 1, 9, 0, MonthlyByDate, 31, 12), Local(2020, 6, 1, 0), 0, kAny, kAny, kUnset},
      {"September 31", T(2012, 9, 1, 9, 0, MonthlyByDate, 31, 12), Local(2020, 6, 1, 0), 0, kAny, kAny, kUnset},
      {"November 31", T(2012, 11, 1, 9, 0, MonthlyByDate, 31, 12), Local(2020, 6, 1, 0), 0, kAny, kAny, kUnset},
      {"February 30", T(2012, 2, 1, 9, 0, MonthlyByDate, 30, 12), Local(2020, 6, 1, 0), 0, kAny, kAny, kUnset},
      {"February 31", T(2012, 2, 1, 9, 0, MonthlyByDate, 31, 12), Local(2020, 6, 1, 0), 0, kAny, kAny, kUnset},
      {"six months to October 31", T(2012, 4, 1, 9, 0, MonthlyByDate, 31, 6), Local(2012, 5, 1, 0), -1, Local(2012, 10, 31, 9), kAny, kAny},
      {"one time at the reference", once, start, 1, start, start + 2 * kHour, kUnset},
      {"one time before it", once, start + 1, 0, kUnset, kUnset, start},
      // Equal next starts: the end belongs to the first token in the list.
      {"equal starts", first + second, june4, -1, kAny, start + kHour, kAny},
      {"equal starts swapped", second + first, june4, -1, kAny, start + 2 * kHour, kAny},
      // The earliest next and the latest last win, in any order; a later
      // interval occurrence exactly at the reference is the last start.
      {"combined", later + earlier + first + T(2012, 6, 1, 10, 0, Interval, 0, 1), june4, -1, Local(2012, 6, 4, 1), kAny, june4},
      {"combined one-time", later + earlier + first, june4, -1, start, kAny, Local(2012, 6, 3, 10)},
      // A token without a local start (day 0) drops out, as does a monthly
      // walk past the runtime's last representable year (3015).
      {"no start", T(2012, 6, 0, 10, 0, OneTime) + past, Local(2012, 7, 1, 0), 0, kAny, kAny, start},
      {"far future", T(2012, 6, 5, 10, 0, MonthlyByDate, 5, 1) + past, 33000000000LL, 0, kAny, kAny, start},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    CSchedule schedule(row.text.c_str());
    EXPECT_FALSE(schedule.tokens().empty());
    __time64_t next = kUnset, end = kUnset, last = kUnset;
    const bool found =
        schedule.GetOccurrences(&next, &end, &row.reference, &last);
    // What a row leaves unchecked (kAny, or -1 for found) passes as it came.
    EXPECT_EQ(row.found < 0 ? found : row.found == 1, found);
    EXPECT_EQ(row.next == kAny ? next : row.next, next);
    EXPECT_EQ(row.end == kAny ? end : row.end, end);
    EXPECT_EQ(row.last == kAny ? last : row.last, last);
  }
}

TEST(ScheduleOccurrences, OptionalOutputs) {
  CSchedule schedule(T(2012, 6, 5, 10, 0, Interval, 0, 1).c_str());
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
