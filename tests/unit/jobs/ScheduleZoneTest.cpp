// Schedules across daylight-saving changes: weekly, whole-day interval and
// monthly occurrences keep the local clock time of their start, UTC tokens
// too; intervals with an hour or minute part are fixed numbers of seconds
// apart, so their clock time shifts.
#include <gtest/gtest.h>
#include <windows.h>

#include <initializer_list>
#include <string>

#include "common/HResultException.h"
#include "jobs/AutomationDate.h"
#include "jobs/DateTime.h"
#include "jobs/MonthlyRecurrence.h"
#include "jobs/SMSJobsDetector.h"
#include "jobs/Schedule.h"
#include "tests/simclient/SimulatedClient.h"
#include "tests/support/PinnedClock.h"
#include "tests/unit/jobs/PlainMonthlyWalk.h"
#include "tests/unit/jobs/TimeZones.h"
#include "tests/support/TokenText.h"

namespace {

using vpltest::PinnedClock;
using vpltest::TimeZone;
using vpltest::TokenFields;
using vpltest::TokenStart;
using vpltest::TokenText;
using vpltest::UtcTime;

using UTCZone = vpltest::TimeZoneTest<TimeZone::kUtc>;
using LondonZone = vpltest::TimeZoneTest<TimeZone::kLondon>;
using SydneyZone = vpltest::TimeZoneTest<TimeZone::kSydney>;
using NewYorkZone = vpltest::TimeZoneTest<TimeZone::kNewYork>;

__time64_t Local(int year, int month, int day, int hour, int minute = 0) {
  return MakeLocalTime(year, month, day, hour, minute, 0, kDstAutomatic);
}

std::wstring Text(__time64_t time) {
  return FormatLocalTime(time, kLogTimePattern);
}

TokenFields Daily(int year, int month, int day, int hour) {
  return TokenStart(year, month, day, hour, 0, Interval, 1);
}
TokenFields Weekly(int year, int month, int day, int hour, int weekday) {
  return TokenStart(year, month, day, hour, 0, ::Weekly, weekday, 1);
}
TokenFields MonthlyOnDay(int year, int month, int day, int hour) {
  return TokenStart(year, month, day, hour, 0, MonthlyByDate, day, 1);
}
TokenFields ByWeekday(int year, int month, int hour, int weekday, int order) {
  return TokenStart(year, month, 1, hour, 0, MonthlyByWeekday, weekday, order,
                    1);
}

// Next and last start as local text, "-" for none; a null `last` is not
// checked.
struct Row {
  const char* name;
  TokenFields fields;
  __time64_t reference;
  const wchar_t *next, *last;
};
void ExpectStarts(std::initializer_list<Row> rows) {
  for (const Row& row : rows) {
    CSchedule schedule(TokenText(row.fields).c_str());
    __time64_t next = 0, last = 0;
    const bool found =
        schedule.GetOccurrences(&next, nullptr, &row.reference, &last);
    EXPECT_EQ(row.next, found ? Text(next) : L"-") << row.name;
    if (row.last) {
      EXPECT_EQ(row.last, last ? Text(last) : L"-") << row.name;
    }
  }
}

__time64_t EffectiveStart(const TokenFields& fields) {
  CScheduleToken token;
  EXPECT_TRUE(token.Decode(TokenText(fields).c_str()));
  EXPECT_TRUE(token.has_start);
  return token.effective_start;
}

TEST_F(UTCZone, LocalIsUtc) {
  EXPECT_EQ(L"01/01/1970 00:00:00", Text(0));
  EXPECT_EQ(UtcTime(2012, 7, 1, 12, 0), Local(2012, 7, 1, 12));
  TokenFields utc = TokenStart(2012, 8, 1, 12, 0, OneTime);
  utc.utc = true;
  PinnedClock clock(UtcTime(2012, 7, 1, 0, 0));
  EXPECT_EQ(UtcTime(2012, 8, 1, 12, 0), EffectiveStart(utc));
}

TEST_F(UTCZone, FirstDayOf1970AtMidnight) {
  CScheduleToken token;
  ASSERT_TRUE(
      token.Decode(TokenText(TokenStart(1970, 1, 1, 0, 0, OneTime)).c_str()));
  EXPECT_TRUE(token.has_start);
  EXPECT_EQ(0, token.nominal_start);
  EXPECT_EQ(86400, token.effective_start);
}

// The published offset tokens at their local clock time in winter and in
// summer alike: two days after the third Tuesday, 02:00, from July 2023;
// seven days after the first Monday, 01:00, from January 2024.
void ExpectPublishedOffsetStarts() {
  // clang-format off
  const struct { const wchar_t* token; __time64_t reference; const wchar_t *next, *last; } rows[] = {
      {L"005C7D4020331680", Local(2024, 1, 1, 0), L"18/01/2024 02:00:00", L"21/12/2023 02:00:00"},
      {L"005C7D4020331680", Local(2024, 7, 1, 0), L"18/07/2024 02:00:00", L"20/06/2024 02:00:00"},
      {L"00211D80083213C0", Local(2024, 3, 25, 0), L"08/04/2024 01:00:00", L"11/03/2024 01:00:00"},
      {L"00211D80083213C0", Local(2024, 10, 1, 0), L"14/10/2024 01:00:00", L"09/09/2024 01:00:00"},
  };
  // clang-format on
  for (const auto& row : rows) {
    CSchedule schedule(row.token);
    __time64_t next = 0, last = 0;
    ASSERT_TRUE(schedule.GetOccurrences(&next, nullptr, &row.reference, &last));
    EXPECT_EQ(row.next, Text(next)) << row.reference;
    EXPECT_EQ(row.last, Text(last)) << row.reference;
  }
}

TEST_F(UTCZone, PublishedOffsetTokens) { ExpectPublishedOffsetStarts(); }

// Clocks go forward on 25 March 2012 and back on 28 October: tokens from
// before asked after. Every 24 hours is a fixed spacing, and shifts; the
// fourth Sunday of March is the day of the change itself.
TEST_F(LondonZone, DaysWeeksAndMonthsKeepTheClockTime) {
  const __time64_t summer = Local(2012, 3, 28, 0);
  const TokenFields hours = TokenStart(2012, 3, 20, 9, 0, Interval, 0, 24);
  // clang-format off
  ExpectStarts({
      {"daily", Daily(2012, 3, 20, 9), summer, L"28/03/2012 09:00:00", L"27/03/2012 09:00:00"},
      {"weekly", Weekly(2012, 3, 20, 9, 3), summer, L"03/04/2012 09:00:00", L"27/03/2012 09:00:00"},
      {"24 hours", hours, summer, L"28/03/2012 10:00:00", nullptr},
      {"daily in autumn", Daily(2012, 10, 25, 9), Local(2012, 10, 30, 0), L"30/10/2012 09:00:00", L"29/10/2012 09:00:00"},
      {"by date", MonthlyOnDay(2012, 2, 20, 9), summer, L"20/04/2012 09:00:00", L"20/03/2012 09:00:00"},
      {"by date in autumn", MonthlyOnDay(2012, 2, 20, 9), Local(2012, 11, 1, 0), L"20/11/2012 09:00:00", L"20/10/2012 09:00:00"},
      {"last Friday", ByWeekday(2012, 2, 9, 6, 0), summer, L"30/03/2012 09:00:00", L"24/02/2012 09:00:00"},
      {"fourth Sunday", ByWeekday(2012, 3, 9, 1, 4), Local(2012, 3, 2, 0), L"25/03/2012 09:00:00", nullptr},
  });
  // clang-format on
}

// A UTC token starts at its UTC instant in winter and in summer.
void ExpectUtcStartWhateverTheSeason() {
  TokenFields utc = TokenStart(2012, 8, 1, 12, 0, OneTime);
  utc.utc = true;
  for (const __time64_t now :
       {UtcTime(2012, 1, 15, 12, 0), UtcTime(2012, 7, 15, 12, 0)}) {
    PinnedClock clock(now);
    EXPECT_EQ(UtcTime(2012, 8, 1, 12, 0), EffectiveStart(utc)) << now;
  }
}

TEST_F(LondonZone, PublishedOffsetTokens) { ExpectPublishedOffsetStarts(); }

TEST_F(LondonZone, UtcTokensStartAtTheirUtcInstant) {
  ExpectUtcStartWhateverTheSeason();
}

TEST_F(LondonZone, TextsAreLocal) {
  EXPECT_EQ(L"01/07/2012 12:00:05", Text(UtcTime(2012, 7, 1, 11, 0, 5)));
  EXPECT_EQ(
      L"20120701120005",
      CAutomationDate(UtcTime(2012, 7, 1, 11, 0, 5)).Format(L"%Y%m%d%H%M%S"));
  EXPECT_EQ(
      L"20120101110005",
      CAutomationDate(UtcTime(2012, 1, 1, 11, 0, 5)).Format(L"%Y%m%d%H%M%S"));
}

// Clocks go back on 1 April 2012 and forward on 7 October.
TEST_F(SydneyZone, DaysWeeksAndMonthsKeepTheClockTime) {
  const __time64_t autumn = Local(2012, 4, 3, 0);
  // clang-format off
  ExpectStarts({
      {"daily", Daily(2012, 3, 28, 9), autumn, L"03/04/2012 09:00:00", L"02/04/2012 09:00:00"},
      {"weekly", Weekly(2012, 3, 28, 9, 4), autumn, L"04/04/2012 09:00:00", L"28/03/2012 09:00:00"},
      {"by date", MonthlyOnDay(2012, 3, 28, 9), autumn, L"28/04/2012 09:00:00", L"28/03/2012 09:00:00"},
      {"daily in spring", Daily(2012, 10, 5, 9), Local(2012, 10, 9, 0), L"09/10/2012 09:00:00", nullptr},
  });
  // clang-format on
}

TEST_F(SydneyZone, UtcTokensStartAtTheirUtcInstant) {
  ExpectUtcStartWhateverTheSeason();
}

TEST_F(SydneyZone, FirstDayOf1970BeforeTheEpochKeepsTheSecondDay) {
  // 1 January 1970 08:00 here is still 1969 in UTC: the stated start has no
  // time value, so the nominal start is the effective one on the second day.
  CScheduleToken token;
  ASSERT_TRUE(token.Decode(TokenText(Daily(1970, 1, 1, 8)).c_str()));
  EXPECT_TRUE(token.has_start);
  EXPECT_EQ(Local(1970, 1, 2, 8), token.effective_start);
  EXPECT_EQ(token.effective_start, token.nominal_start);
  ASSERT_TRUE(token.Decode(TokenText(Daily(1970, 1, 1, 12)).c_str()));
  EXPECT_TRUE(token.has_start);
  EXPECT_EQ(3600, token.nominal_start);
  EXPECT_EQ(3600 + 86400, token.effective_start);

  const std::wstring text = TokenText(Daily(1970, 1, 1, 8)) +
                            TokenText(TokenStart(2012, 6, 5, 10, 0, OneTime));
  CSchedule schedule(text.c_str());
  ASSERT_EQ(2u, schedule.tokens().size());
  const __time64_t reference = Local(2012, 6, 1, 0);
  __time64_t next = 0;
  ASSERT_TRUE(schedule.GetOccurrences(&next, nullptr, &reference, nullptr));
  EXPECT_EQ(Local(2012, 6, 1, 8), next);
}

TEST_F(SydneyZone, MonthBeforeTheEpochFailsBothWalks) {
  // The walk starts in January 1970, whose first day at 08:00 is before the
  // epoch here; jumping ahead must fail the token just as walking does.
  CScheduleToken token;
  ASSERT_TRUE(token.Decode(TokenText(MonthlyOnDay(1970, 1, 5, 8)).c_str()));
  token.month_day = 1;
  const __time64_t reference = Local(2012, 6, 1, 0);
  for (auto walk : {&MonthlyByDateOccurrences, &vpltest::PlainMonthlyByDate}) {
    HRESULT error = S_OK;
    try {
      walk(token, token.effective_start, reference);
    } catch (const NTarn::HResultException& raised) {
      error = raised.Error();
    }
    EXPECT_EQ(E_INVALIDARG, error);
  }
}

TEST_F(NewYorkZone, SecondTuesdayOfMarchKeepsTheClockTime) {
  // Clocks go forward on Sunday 11 March 2012, two days before. The same
  // start stated in UTC: the time of day is the start's local one.
  TokenFields utc = ByWeekday(2012, 2, 15, 3, 2);
  utc.utc = true;
  // clang-format off
  ExpectStarts({
      {"local", ByWeekday(2012, 2, 10, 3, 2), Local(2012, 3, 1, 0), L"13/03/2012 10:00:00", L"14/02/2012 10:00:00"},
      {"utc", utc, Local(2012, 3, 1, 0), L"13/03/2012 10:00:00", L"14/02/2012 10:00:00"},
  });
  // clang-format on
}

// A maintenance window's start is the client's local clock digits: an update
// waiting for it is held for the real time until then, which a change of the
// clocks makes longer or shorter than the digits say.
TEST_F(LondonZone, WindowOpeningAcrossAClockChange) {
  // clang-format off
  const struct { const char* name; __time64_t now; const char* start; DWORD window; bool waits; } rows[] = {
      // 00:30 GMT to 02:20 BST is 50 minutes, not the 110 of the digits.
      {"spring", Local(2026, 3, 29, 0, 30), "20260329022000", 60, true},
      {"spring, shorter window", Local(2026, 3, 29, 0, 30), "20260329022000", 40, false},
      // 00:50 BST to 02:10 GMT is 140 minutes, not the 80 of the digits.
      {"autumn", Local(2026, 10, 25, 0, 50), "20261025021000", 90, false},
      {"autumn, longer window", Local(2026, 10, 25, 0, 50), "20261025021000", 140, true},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    PinnedClock clock(row.now);
    vpltest::SimulatedClient sim(
        std::string(
            R"({"namespaces": {"root\\ccm\\ClientSDK": {"CCM_ServiceWindow": [{"ID": "W", "Type": 4,
        "StartTime": ")") +
        row.start +
        R"(.000000+000", "Duration": 3600}], "CCM_SoftwareUpdate": [{"UpdateID": "U",
        "EvaluationState": 14}], "CCM_Application": []}, "root\\ccm\\Policy\\Machine\\ActualConfig": {
        "CCM_SoftwareUpdatesClientConfig": []}}})");
    CSMSJobsDetector detector(L"", row.window, nullptr, nullptr);
    detector.SetMaintenanceWindows(true);
    const std::optional<WindowWait> wait = detector.WorkWaitingForWindow();
    EXPECT_EQ(wait.has_value(), row.waits);
    const std::string start(row.start);
    if (wait) {
      EXPECT_EQ(FormatLocalTime(wait->window.start, L"%Y%m%d%H%M%S"),
                std::wstring(start.begin(), start.end()));
    }
  }
  EXPECT_EQ(vpltest::SimulatedClient::LiveObjects(), 0);
}

}  // namespace
