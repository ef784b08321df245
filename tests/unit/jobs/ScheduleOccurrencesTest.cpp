// Occurrence rules away from daylight-saving changes, so that they hold in
// any zone the tests run in.
#include <gtest/gtest.h>

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

struct Occurrences {
  bool found = false;
  __time64_t next = kUnset;
  __time64_t end = kUnset;
  __time64_t last = kUnset;
};

Occurrences Evaluate(const std::wstring& text, __time64_t reference) {
  CSchedule schedule(text.c_str());
  EXPECT_FALSE(schedule.tokens().empty());
  Occurrences result;
  result.found = schedule.GetOccurrences(&result.next, &result.end, &reference,
                                         &result.last);
  return result;
}

TokenFields Hourly() {
  TokenFields fields = TokenStart(2012, 6, 5, 10, 0, Interval);
  fields.interval_hours = 1;
  return fields;
}

TEST(ScheduleOccurrences, IntervalAroundTheReference) {
  const std::wstring hourly = TokenText(Hourly());
  Occurrences r = Evaluate(hourly, Local(2012, 6, 5, 12));
  EXPECT_TRUE(r.found);
  EXPECT_EQ(Local(2012, 6, 5, 13), r.next);
  EXPECT_EQ(Local(2012, 6, 5, 12), r.last);
  EXPECT_EQ(CSchedule::kNoNext, r.end);

  r = Evaluate(hourly, Local(2012, 6, 5, 12, 0, 1));
  EXPECT_EQ(Local(2012, 6, 5, 13), r.next);
  EXPECT_EQ(Local(2012, 6, 5, 12), r.last);

  r = Evaluate(hourly, Local(2012, 6, 5, 9));
  EXPECT_EQ(Local(2012, 6, 5, 10), r.next);
  EXPECT_EQ(kUnset, r.last);

  r = Evaluate(hourly, Local(2012, 6, 5, 10));
  EXPECT_EQ(Local(2012, 6, 5, 10), r.next);
  EXPECT_EQ(Local(2012, 6, 5, 10), r.last);
}

TEST(ScheduleOccurrences, NextStartsBeyond2038) {
  // Seventy years after its start, more seconds than 32 bits hold.
  TokenFields fields = Hourly();
  fields.year = 1971;
  const Occurrences r = Evaluate(TokenText(fields), Local(2041, 6, 5, 12));
  EXPECT_TRUE(r.found);
  EXPECT_EQ(Local(2041, 6, 5, 13), r.next);
  EXPECT_EQ(Local(2041, 6, 5, 12), r.last);
}

TEST(ScheduleOccurrences, IntervalOfMixedPartsAndOfNothing) {
  TokenFields fields = TokenStart(2012, 6, 5, 10, 0, Interval);
  fields.interval_days = 1;
  fields.interval_hours = 2;
  fields.interval_minutes = 30;
  Occurrences r = Evaluate(TokenText(fields), Local(2012, 6, 6, 12, 30));
  EXPECT_EQ(Local(2012, 6, 7, 15, 0), r.next);
  EXPECT_EQ(Local(2012, 6, 6, 12, 30), r.last);

  // No interval: every second once the start has passed.
  fields.interval_days = fields.interval_hours = fields.interval_minutes = 0;
  r = Evaluate(TokenText(fields), Local(2012, 6, 5, 11));
  EXPECT_EQ(Local(2012, 6, 5, 11) + 1, r.next);
  EXPECT_EQ(Local(2012, 6, 5, 11), r.last);
}

TEST(ScheduleOccurrences, EndFollowsTheDuration) {
  TokenFields fields = Hourly();
  fields.duration_days = 1;
  fields.duration_hours = 2;
  fields.duration_minutes = 3;
  const Occurrences r = Evaluate(TokenText(fields), Local(2012, 6, 5, 12, 30));
  EXPECT_EQ(Local(2012, 6, 5, 13), r.next);
  EXPECT_EQ(r.next + kDay + 2 * kHour + 3 * 60, r.end);
}

TEST(ScheduleOccurrences, WeeklyFromAStartOffTheWeekday) {
  // Mondays, from Wednesday 6 June 2012 08:00.
  TokenFields fields = TokenStart(2012, 6, 6, 8, 0, Weekly);
  fields.weekday = 2;
  fields.weeks = 1;
  Occurrences r = Evaluate(TokenText(fields), Local(2012, 6, 6, 8));
  EXPECT_EQ(Local(2012, 6, 11, 8), r.next);
  EXPECT_EQ(Local(2012, 6, 6, 8), r.last);

  // The last start counts whole weeks from the Wednesday itself.
  r = Evaluate(TokenText(fields), Local(2012, 6, 14, 9));
  EXPECT_EQ(Local(2012, 6, 18, 8), r.next);
  EXPECT_EQ(Local(2012, 6, 13, 8), r.last);

  r = Evaluate(TokenText(fields), Local(2012, 6, 1, 8));
  EXPECT_EQ(Local(2012, 6, 11, 8), r.next);
  EXPECT_EQ(kUnset, r.last);
}

TEST(ScheduleOccurrences, WeeklyEverySoManyWeeks) {
  TokenFields fields = TokenStart(2012, 6, 6, 8, 0, Weekly);
  fields.weekday = 4;  // Wednesday, the start's own weekday
  fields.weeks = 2;
  const Occurrences r = Evaluate(TokenText(fields), Local(2012, 6, 10, 0));
  EXPECT_EQ(Local(2012, 6, 20, 8), r.next);
  EXPECT_EQ(Local(2012, 6, 6, 8), r.last);
}

TEST(ScheduleOccurrences, MonthlyByWeekdayWeeks) {
  // Last Friday of each month.
  TokenFields fields = TokenStart(2012, 6, 1, 9, 30, MonthlyByWeekday);
  fields.weekday = 6;
  fields.week_order = 0;
  fields.months = 1;
  Occurrences r = Evaluate(TokenText(fields), Local(2012, 7, 1, 0));
  EXPECT_EQ(Local(2012, 7, 27, 9, 30), r.next);
  EXPECT_EQ(Local(2012, 6, 29, 9, 30), r.last);

  // Second Tuesday of April 2012, which starts on a Sunday.
  fields = TokenStart(2012, 4, 1, 8, 0, MonthlyByWeekday);
  fields.weekday = 3;
  fields.week_order = 2;
  fields.months = 1;
  r = Evaluate(TokenText(fields), Local(2012, 4, 2, 0));
  EXPECT_EQ(Local(2012, 4, 10, 8), r.next);

  // First Monday of October 2012, which starts on a Monday.
  fields = TokenStart(2012, 9, 1, 8, 0, MonthlyByWeekday);
  fields.weekday = 2;
  fields.week_order = 1;
  fields.months = 1;
  r = Evaluate(TokenText(fields), Local(2012, 9, 4, 0));
  EXPECT_EQ(Local(2012, 10, 1, 8), r.next);

  // A fifth Sunday of February 2012 runs on into March.
  fields = TokenStart(2012, 2, 1, 8, 0, MonthlyByWeekday);
  fields.weekday = 1;
  fields.week_order = 5;
  fields.months = 1;
  r = Evaluate(TokenText(fields), Local(2012, 2, 2, 0));
  EXPECT_EQ(Local(2012, 3, 4, 8), r.next);
}

TEST(ScheduleOccurrences, MonthlyByWeekdayCountsFromTheStart) {
  // First Monday, every third month, from 20 June 2012: 4 June lies before
  // the start and does not count.
  TokenFields fields = TokenStart(2012, 6, 20, 7, 0, MonthlyByWeekday);
  fields.weekday = 2;
  fields.week_order = 1;
  fields.months = 3;
  Occurrences r = Evaluate(TokenText(fields), Local(2012, 6, 21, 0));
  EXPECT_EQ(Local(2012, 9, 3, 7), r.next);
  EXPECT_EQ(kUnset, r.last);
  r = Evaluate(TokenText(fields), Local(2012, 9, 4, 0));
  EXPECT_EQ(Local(2012, 9, 3, 7), r.last);
}

TEST(ScheduleOccurrences, MonthlyByDateSkipsShortMonths) {
  TokenFields fields = TokenStart(2012, 5, 31, 9, 0, MonthlyByDate);
  fields.month_day = 31;
  fields.months = 1;
  Occurrences r = Evaluate(TokenText(fields), Local(2012, 6, 1, 0));
  EXPECT_EQ(Local(2012, 7, 31, 9), r.next);
  EXPECT_EQ(Local(2012, 5, 31, 9), r.last);

  // The last day of each month.
  fields = TokenStart(2012, 6, 15, 9, 0, MonthlyByDate);
  fields.month_day = 0;
  fields.months = 1;
  r = Evaluate(TokenText(fields), Local(2012, 7, 1, 0));
  EXPECT_EQ(Local(2012, 7, 31, 9), r.next);
  EXPECT_EQ(Local(2012, 6, 30, 9), r.last);
}

TEST(ScheduleOccurrences, FebruaryOfCenturyYearsHas28Days) {
  TokenFields lastDay = TokenStart(2033, 2, 10, 9, 0, MonthlyByDate);
  lastDay.month_day = 0;
  lastDay.months = 12;
  Occurrences r = Evaluate(TokenText(lastDay), Local(2100, 3, 15, 0));
  EXPECT_TRUE(r.found);
  EXPECT_EQ(Local(2101, 2, 28, 9), r.next);
  EXPECT_EQ(Local(2100, 2, 28, 9), r.last);
  r = Evaluate(TokenText(lastDay), Local(2096, 3, 1, 0));
  EXPECT_EQ(Local(2096, 2, 29, 9), r.last);

  TokenFields leapDay = TokenStart(2032, 2, 29, 9, 0, MonthlyByDate);
  leapDay.month_day = 29;
  leapDay.months = 12;
  r = Evaluate(TokenText(leapDay), Local(2104, 1, 1, 0));
  EXPECT_EQ(Local(2096, 2, 29, 9), r.last);
  r = Evaluate(TokenText(leapDay), Local(2104, 3, 1, 0));
  EXPECT_EQ(Local(2104, 2, 29, 9), r.last);
  r = Evaluate(TokenText(leapDay), Local(2033, 1, 1, 0));
  EXPECT_EQ(Local(2036, 2, 29, 9), r.next);
  EXPECT_EQ(Local(2032, 2, 29, 9), r.last);
}

TEST(ScheduleOccurrences, MonthlyTokensThatNeverAdvanceFinish) {
  // No month between occurrences: the start month only.
  TokenFields byDate = TokenStart(2012, 6, 5, 9, 0, MonthlyByDate);
  byDate.month_day = 20;
  byDate.months = 0;
  Occurrences r = Evaluate(TokenText(byDate), Local(2012, 6, 1, 0));
  EXPECT_TRUE(r.found);
  EXPECT_EQ(Local(2012, 6, 20, 9), r.next);
  r = Evaluate(TokenText(byDate), Local(2013, 1, 1, 0));
  EXPECT_FALSE(r.found);
  EXPECT_EQ(kUnset, r.next);
  EXPECT_EQ(Local(2012, 6, 20, 9), r.last);

  TokenFields byWeekday = TokenStart(2012, 6, 1, 9, 0, MonthlyByWeekday);
  byWeekday.weekday = 2;
  byWeekday.week_order = 1;
  byWeekday.months = 0;
  r = Evaluate(TokenText(byWeekday), Local(2012, 6, 10, 0));
  EXPECT_FALSE(r.found);
  EXPECT_EQ(Local(2012, 6, 4, 9), r.last);
  byWeekday.day = 5;  // after the first Monday: nothing at all
  r = Evaluate(TokenText(byWeekday), Local(2012, 6, 10, 0));
  EXPECT_FALSE(r.found);
  EXPECT_EQ(kUnset, r.last);
}

TEST(ScheduleOccurrences, MonthlyTokensWithoutAnyOccurrence) {
  // More than twelve months between occurrences.
  for (int type : {MonthlyByWeekday, MonthlyByDate}) {
    TokenFields fields = TokenStart(2012, 6, 1, 9, 0, type);
    fields.weekday = 2;
    fields.week_order = 1;
    fields.month_day = 10;
    fields.months = 13;
    const Occurrences r = Evaluate(TokenText(fields), Local(2013, 6, 1, 0));
    EXPECT_FALSE(r.found) << type;
    EXPECT_EQ(kUnset, r.last) << type;
  }
  // Days that no visited month has.
  struct {
    int month;
    int day;
  } const never[] = {{4, 31}, {6, 31}, {9, 31}, {11, 31}, {2, 30}, {2, 31}};
  for (const auto& c : never) {
    TokenFields fields = TokenStart(2012, c.month, 1, 9, 0, MonthlyByDate);
    fields.month_day = c.day;
    fields.months = 12;
    const Occurrences r = Evaluate(TokenText(fields), Local(2020, 6, 1, 0));
    EXPECT_FALSE(r.found) << c.month << "/" << c.day;
    EXPECT_EQ(kUnset, r.last);
  }
  // Every six months from April reaches October's 31st.
  TokenFields fields = TokenStart(2012, 4, 1, 9, 0, MonthlyByDate);
  fields.month_day = 31;
  fields.months = 6;
  EXPECT_EQ(Local(2012, 10, 31, 9),
            Evaluate(TokenText(fields), Local(2012, 5, 1, 0)).next);
}

TEST(ScheduleOccurrences, OneTimeAtAndBeforeTheReference) {
  TokenFields fields = TokenStart(2012, 6, 5, 10, 0, OneTime);
  fields.duration_hours = 2;
  const __time64_t start = Local(2012, 6, 5, 10);
  Occurrences r = Evaluate(TokenText(fields), start);
  EXPECT_TRUE(r.found);
  EXPECT_EQ(start, r.next);
  EXPECT_EQ(start + 2 * kHour, r.end);
  EXPECT_EQ(kUnset, r.last);

  r = Evaluate(TokenText(fields), start + 1);
  EXPECT_FALSE(r.found);
  EXPECT_EQ(kUnset, r.next);
  EXPECT_EQ(kUnset, r.end);
  EXPECT_EQ(start, r.last);
}

TEST(ScheduleOccurrences, TokensCombine) {
  TokenFields first = TokenStart(2012, 6, 5, 10, 0, OneTime);
  first.duration_hours = 1;
  TokenFields second = first;
  second.duration_hours = 2;
  TokenFields earlier = TokenStart(2012, 6, 3, 10, 0, OneTime);
  TokenFields later = TokenStart(2012, 6, 9, 10, 0, OneTime);
  const __time64_t reference = Local(2012, 6, 4, 0);

  // Equal next starts: the end belongs to the first token in the list.
  Occurrences r = Evaluate(TokenText(first) + TokenText(second), reference);
  EXPECT_EQ(Local(2012, 6, 5, 10) + kHour, r.end);
  r = Evaluate(TokenText(second) + TokenText(first), reference);
  EXPECT_EQ(Local(2012, 6, 5, 10) + 2 * kHour, r.end);

  // The earliest next and the latest last win, in any order.
  TokenFields hourly = Hourly();
  hourly.day = 1;
  r = Evaluate(TokenText(later) + TokenText(earlier) + TokenText(first) +
                   TokenText(hourly),
               reference);
  // A later interval occurrence exactly at the reference is the last start.
  EXPECT_EQ(Local(2012, 6, 4, 1), r.next);
  EXPECT_EQ(Local(2012, 6, 4, 0), r.last);
  r = Evaluate(TokenText(later) + TokenText(earlier) + TokenText(first),
               reference);
  EXPECT_EQ(Local(2012, 6, 5, 10), r.next);
  EXPECT_EQ(Local(2012, 6, 3, 10), r.last);
}

TEST(ScheduleOccurrences, OptionalOutputs) {
  CSchedule schedule(TokenText(Hourly()).c_str());
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

TEST(ScheduleOccurrences, TokensThatCannotBeEvaluatedDropOut) {
  const TokenFields past = TokenStart(2012, 6, 5, 10, 0, OneTime);
  // Day 0 has no local start.
  const TokenFields noStart = TokenStart(2012, 6, 0, 10, 0, OneTime);
  Occurrences r =
      Evaluate(TokenText(noStart) + TokenText(past), Local(2012, 7, 1, 0));
  EXPECT_FALSE(r.found);
  EXPECT_EQ(Local(2012, 6, 5, 10), r.last);

  // Past the runtime's last representable year the monthly walk fails.
  TokenFields monthly = TokenStart(2012, 6, 5, 10, 0, MonthlyByDate);
  monthly.month_day = 5;
  monthly.months = 1;
  const __time64_t farFuture = 33000000000LL;  // in the year 3015
  r = Evaluate(TokenText(monthly) + TokenText(past), farFuture);
  EXPECT_FALSE(r.found);
  EXPECT_EQ(Local(2012, 6, 5, 10), r.last);
}

}  // namespace
