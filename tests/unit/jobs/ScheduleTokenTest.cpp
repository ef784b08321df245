#include <gtest/gtest.h>

#include <string>

#include "common/Logging.h"
#include "jobs/DateTime.h"
#include "jobs/ScheduleToken.h"
#include "tests/support/DebugFlagsScope.h"
#include "tests/support/LogCapture.h"
#include "tests/support/PinnedClock.h"
#include "tests/support/TokenText.h"

namespace {

using namespace NTarn;

using vpltest::PinnedClock;
using vpltest::TokenFields;
using vpltest::TokenStart;
using vpltest::TokenText;
using vpltest::TokenTextFromHalves;

constexpr __time64_t kNow = 1340000000;  // 2012-06-18

TEST(ScheduleTokenDecode, StartAndDurationOfEveryType) {
  PinnedClock clock(kNow);
  for (uint32_t type = 1; type <= 6; ++type) {
    TokenFields fields = TokenStart(2033, 12, 31, 23, 59, type);
    fields.duration_days = 31;
    fields.duration_hours = 17;
    fields.duration_minutes = 45;
    CScheduleToken token;
    ASSERT_TRUE(token.Decode(TokenText(fields).c_str())) << type;
    EXPECT_EQ(2033, token.year);
    EXPECT_EQ(12, token.month);
    EXPECT_EQ(31, token.day);
    EXPECT_EQ(23, token.hour);
    EXPECT_EQ(59, token.minute);
    EXPECT_EQ(31, token.duration_days);
    EXPECT_EQ(17, token.duration_hours);
    EXPECT_EQ(45, token.duration_minutes);
    EXPECT_EQ(static_cast<int32_t>(type), token.recurrence_type);
    EXPECT_EQ(0, token.utc);
    EXPECT_TRUE(token.has_start);
    const __time64_t start =
        MakeLocalTime(2033, 12, 31, 23, 59, 0, kDstAutomatic);
    EXPECT_EQ(start, token.nominal_start);
    EXPECT_EQ(start, token.effective_start);
  }
}

TEST(ScheduleTokenDecode, RecurrenceFieldsOfEachType) {
  CScheduleToken token;
  const auto decode = [&token](const TokenFields& fields) {
    return token.Decode(TokenText(fields).c_str());
  };
  ASSERT_TRUE(decode(TokenStart(2012, 6, 1, 8, 0, Interval, 31, 23, 59)));
  EXPECT_EQ(31, token.interval_days);
  EXPECT_EQ(23, token.interval_hours);
  EXPECT_EQ(59, token.interval_minutes);
  EXPECT_EQ(0, token.weekday + token.weeks + token.months + token.week_order +
                   token.month_day);

  ASSERT_TRUE(decode(TokenStart(2012, 6, 1, 8, 0, Weekly, 7, 5)));
  EXPECT_EQ(7, token.weekday);
  EXPECT_EQ(5, token.weeks);
  EXPECT_EQ(0, token.interval_minutes + token.months + token.week_order);

  ASSERT_TRUE(decode(TokenStart(2012, 6, 1, 8, 0, MonthlyByWeekday, 6, 3, 12)));
  EXPECT_EQ(6, token.weekday);
  EXPECT_EQ(12, token.months);
  EXPECT_EQ(3, token.week_order);
  EXPECT_EQ(0, token.weeks + token.month_day + token.interval_days);

  ASSERT_TRUE(decode(TokenStart(2012, 6, 1, 8, 0, MonthlyByDate, 31, 15)));
  EXPECT_EQ(31, token.month_day);
  EXPECT_EQ(15, token.months);
  EXPECT_EQ(0, token.weekday + token.week_order + token.weeks);
}

TEST(ScheduleTokenDecode, PublishedOffsetTokens) {
  // Two days after the third Tuesday from 28 July 2023 02:00, four hours;
  // seven days after the first Monday from 1 January 2024 01:00, one hour.
  // clang-format off
  const struct { const wchar_t* text; int year, month, day, hour, durationHours, weekday, weekOrder, offsetDays; } rows[] = {
      {L"005C7D4020331680", 2023, 7, 28, 2, 4, 3, 3, 2},
      {L"00211D80083213C0", 2024, 1, 1, 1, 1, 2, 1, 7},
  };
  // clang-format on
  for (const auto& row : rows) {
    CScheduleToken token;
    ASSERT_TRUE(token.Decode(row.text));
    EXPECT_EQ(MonthlyByWeekdayOffset, token.recurrence_type);
    EXPECT_EQ(MakeLocalTime(row.year, row.month, row.day, row.hour, 0, 0,
                            kDstAutomatic),
              token.effective_start);
    EXPECT_EQ(row.durationHours, token.duration_hours);
    EXPECT_EQ(row.weekday, token.weekday);
    EXPECT_EQ(row.weekOrder, token.week_order);
    EXPECT_EQ(1, token.months);
    EXPECT_EQ(row.offsetDays, token.offset_days);
    EXPECT_EQ(0, token.utc + token.duration_minutes + token.duration_days);
  }
  // The same bits in a type-4 token are no offset.
  CScheduleToken plain;
  ASSERT_TRUE(plain.Decode(L"005C7D4020231680"));
  EXPECT_EQ(MonthlyByWeekday, plain.recurrence_type);
  EXPECT_EQ(0, plain.offset_days);
}

TEST(ScheduleTokenDecode, BitsOutsideTheTypeAreIgnored) {
  // A one-time token with every low bit from 1 to 18 set reads the same as
  // the plain one.
  const uint32_t high =
      (30u << 26) | (8u << 21) | (5u << 16) | (4u << 12) | (42u << 6);
  CScheduleToken plain;
  CScheduleToken noisy;
  ASSERT_TRUE(plain.Decode(TokenTextFromHalves(high, 1u << 19).c_str()));
  ASSERT_TRUE(
      noisy.Decode(TokenTextFromHalves(high, (1u << 19) | 0x7FFFEu).c_str()));
  EXPECT_EQ(plain.effective_start, noisy.effective_start);
  EXPECT_EQ(0, noisy.interval_minutes + noisy.interval_hours +
                   noisy.interval_days + noisy.weekday + noisy.weeks +
                   noisy.months + noisy.week_order + noisy.month_day +
                   noisy.utc);
  EXPECT_EQ(MakeLocalTime(2012, 4, 5, 8, 30, 0, kDstAutomatic),
            plain.effective_start);
}

TEST(ScheduleTokenDecode, LowerCaseDigitsReadAlike) {
  const std::wstring upper =
      TokenText(TokenStart(2019, 11, 27, 22, 45, MonthlyByWeekday, 5, 2, 3));
  std::wstring lower = upper;
  for (wchar_t& c : lower) c = static_cast<wchar_t>(towlower(c));
  ASSERT_NE(upper, lower);
  CScheduleToken a;
  CScheduleToken b;
  ASSERT_TRUE(a.Decode(upper.c_str()));
  ASSERT_TRUE(b.Decode(lower.c_str()));
  EXPECT_EQ(a.effective_start, b.effective_start);
  EXPECT_EQ(a.weekday, b.weekday);
  EXPECT_EQ(a.months, b.months);
  EXPECT_EQ(a.week_order, b.week_order);
}

TEST(ScheduleTokenDecode, RejectsLengthAndStartFields) {
  PinnedClock clock(kNow);
  CScheduleToken token;
  const std::wstring good = TokenText(TokenStart(2012, 6, 1, 8, 0, OneTime));
  EXPECT_TRUE(token.Decode(good.c_str()));
  EXPECT_FALSE(token.Decode(nullptr));
  EXPECT_FALSE(token.Decode(good.substr(0, 15).c_str()));
  EXPECT_FALSE(token.Decode((good + L"0").c_str()));
  EXPECT_FALSE(
      token.Decode(TokenText(TokenStart(2012, 6, 1, 8, 60, OneTime)).c_str()));
  EXPECT_FALSE(
      token.Decode(TokenText(TokenStart(2012, 6, 1, 24, 0, OneTime)).c_str()));
  EXPECT_FALSE(
      token.Decode(TokenText(TokenStart(2012, 0, 1, 8, 0, OneTime)).c_str()));
  EXPECT_FALSE(
      token.Decode(TokenText(TokenStart(2012, 13, 1, 8, 0, OneTime)).c_str()));
  // A failed decode starts from a fresh record: now as nominal start.
  EXPECT_EQ(kNow, token.nominal_start);
  EXPECT_EQ(0, token.year);
  EXPECT_EQ(0, token.effective_start);
}

TEST(ScheduleTokenDecode, UnknownTypesFailWithFieldsFilled) {
  for (uint32_t type : {0u, 7u}) {
    TokenFields fields = TokenStart(2012, 6, 1, 8, 15, type);
    fields.duration_hours = 2;
    CScheduleToken token;
    EXPECT_FALSE(token.Decode(TokenText(fields).c_str())) << type;
    EXPECT_EQ(static_cast<int32_t>(type), token.recurrence_type);
    EXPECT_EQ(2012, token.year);
    EXPECT_EQ(15, token.minute);
    EXPECT_EQ(2, token.duration_hours);
    EXPECT_EQ(MakeLocalTime(2012, 6, 1, 8, 15, 0, kDstAutomatic),
              token.effective_start);
  }
}

TEST(ScheduleTokenDecode, FirstDayOf1970MovesToTheSecond) {
  CScheduleToken token;
  ASSERT_TRUE(
      token.Decode(TokenText(TokenStart(1970, 1, 1, 14, 0, Interval)).c_str()));
  EXPECT_EQ(2, token.day);
  EXPECT_TRUE(token.has_start);
  EXPECT_EQ(MakeLocalTime(1970, 1, 2, 14, 0, 0, kDstAutomatic),
            token.effective_start);
  // The nominal start keeps the stated day.
  EXPECT_EQ(MakeLocalTime(1970, 1, 1, 14, 0, 0, kDstAutomatic),
            token.nominal_start);

  // Other days of 1970 are taken as stated.
  ASSERT_TRUE(
      token.Decode(TokenText(TokenStart(1970, 2, 1, 14, 0, Interval)).c_str()));
  EXPECT_EQ(1, token.day);
  EXPECT_EQ(token.nominal_start, token.effective_start);
}

TEST(ScheduleTokenDecode, DayZeroHasNoStart) {
  PinnedClock clock(kNow);
  CScheduleToken token;
  // Decodes (the day is not range-tested), but has no local start.
  ASSERT_TRUE(
      token.Decode(TokenText(TokenStart(2012, 6, 0, 8, 0, OneTime)).c_str()));
  EXPECT_FALSE(token.has_start);
  EXPECT_EQ(0, token.effective_start);
  EXPECT_EQ(0, token.day);
}

TEST(ScheduleTokenDecode, UnreadableHalfIsLoggedWhenVerbose) {
  vpltest::DebugFlagsScope flags;
  const std::wstring good = TokenText(TokenStart(2012, 6, 1, 8, 0, OneTime));
  std::wstring bad = good;
  bad[12] = L'x';
  CScheduleToken token;

  DebugFlags.store(0);
  vpltest::LogCapture::Clear();
  token.Decode(bad.c_str());
  EXPECT_TRUE(vpltest::LogCapture::Messages().empty());

  DebugFlags.store(debug_flags::kVerbose);
  vpltest::LogCapture::Clear();
  // Only the low half is damaged: the start still decodes, while the low
  // half keeps the four digits before the bad one, which hold no type.
  EXPECT_FALSE(token.Decode(bad.c_str()));
  EXPECT_EQ(0, token.recurrence_type);
  EXPECT_EQ(
      std::vector<std::string>{"[T]: Error whilst converting schedule token\n"},
      vpltest::LogCapture::Messages());
  EXPECT_EQ(MakeLocalTime(2012, 6, 1, 8, 0, 0, kDstAutomatic),
            token.effective_start);

  vpltest::LogCapture::Clear();
  token.Decode(good.c_str());
  EXPECT_TRUE(vpltest::LogCapture::Messages().empty());
}

}  // namespace
