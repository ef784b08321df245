// Random tokens and references, in whatever zone the run has.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>

#include "common/HResultException.h"
#include "jobs/DateTime.h"
#include "jobs/MonthlyRecurrence.h"
#include "jobs/Schedule.h"
#include "tests/unit/jobs/PlainMonthlyWalk.h"
#include "tests/support/TokenText.h"

namespace {

using vpltest::TokenTextFromHalves;

constexpr uint64_t kSeed = 20121005;
constexpr int kRounds = 3000;
// 1970-01-01 to 2037-12-31, the years a reference normally has.
constexpr __time64_t kLatestReference = 2145830400;
// Between occurrences: the 29th of February every twelve months (a leap year
// comes round within four, up to 2037), or a week order running on seven
// weeks past the month and seven offset days more.
constexpr __time64_t kLongestGap = (4 * 366 + 49 + 7) * 86400LL;

uint32_t Bits(uint32_t half, int low, int width) {
  return (half >> low) & ((1u << width) - 1);
}

// A random token text that decodes: start fields in range, a known type.
std::wstring RandomValidToken(std::mt19937_64& random, uint32_t type) {
  uint32_t high = static_cast<uint32_t>(random());
  uint32_t low = static_cast<uint32_t>(random());
  const uint32_t minute = random() % 60;
  const uint32_t hour = random() % 24;
  const uint32_t day = 1 + random() % 31;
  const uint32_t month = 1 + random() % 12;
  high = (minute << 26) | (hour << 21) | (day << 16) | (month << 12) |
         (high & 0xFFF);
  low = (low & ~(7u << 19)) | (type << 19);
  return TokenTextFromHalves(high, low);
}

__time64_t RandomReference(std::mt19937_64& random) {
  return static_cast<__time64_t>(random() % kLatestReference);
}

TEST(ScheduleProperties, DecodeMatchesTheFieldRules) {
  std::mt19937_64 random(kSeed);
  for (int i = 0; i < kRounds * 3; ++i) {
    const uint32_t high = static_cast<uint32_t>(random());
    const uint32_t low = static_cast<uint32_t>(random());
    const uint32_t type = Bits(low, 19, 3);
    const bool expected = Bits(high, 26, 6) <= 59 && Bits(high, 21, 5) <= 23 &&
                          Bits(high, 12, 4) >= 1 && Bits(high, 12, 4) <= 12 &&
                          type >= 1 && type <= 6;
    std::wstring text = TokenTextFromHalves(high, low);
    CScheduleToken token;
    ASSERT_EQ(expected, token.Decode(text.c_str()))
        << std::string(text.begin(), text.end());
    // Damaged texts decode without harm.
    text[random() % text.size()] = static_cast<wchar_t>(random() % 0x10000);
    token.Decode(text.c_str());
    CSchedule schedule((text + text).c_str());
    __time64_t next = 0;
    schedule.GetOccurrences(&next, nullptr, nullptr, nullptr);
  }
}

TEST(ScheduleProperties, OccurrencesLieOnTheirSideOfTheReference) {
  std::mt19937_64 random(kSeed + 1);
  for (int i = 0; i < kRounds; ++i) {
    const uint32_t type = 1 + i % 6;
    const std::wstring text = RandomValidToken(random, type);
    CSchedule schedule(text.c_str());
    ASSERT_EQ(1u, schedule.tokens().size());
    const CScheduleToken& token = *schedule.tokens()[0];
    const __time64_t reference = RandomReference(random);
    __time64_t next = -1;
    __time64_t end = -1;
    __time64_t last = -1;
    const bool found = schedule.GetOccurrences(&next, &end, &reference, &last);
    const std::string trace = std::string(text.begin(), text.end()) +
                              " reference " + std::to_string(reference);
    if (found) {
      EXPECT_GE(next, reference) << trace;
      // Within the longest gap of the reference or of a start still to come.
      EXPECT_LT(next, std::max(reference, token.effective_start) + kLongestGap)
          << trace;
      const __time64_t duration =
          ((token.duration_days * 24LL + token.duration_hours) * 60 +
           token.duration_minutes) *
          60;
      EXPECT_EQ(duration ? next + duration : CSchedule::kNoNext, end) << trace;
    } else {
      EXPECT_EQ(-1, next) << trace;
      EXPECT_EQ(-1, end) << trace;
    }
    if (last != -1) {
      // Interval and weekly starts exactly at the reference count as last.
      if (type == Interval || type == Weekly) {
        EXPECT_LE(last, reference) << trace;
      } else {
        EXPECT_LT(last, reference) << trace;
      }
      EXPECT_GE(last, token.effective_start) << trace;
    }
  }
}

TEST(ScheduleProperties, MonthlyJumpEqualsThePlainWalk) {
  std::mt19937_64 random(kSeed + 2);
  int compared = 0;
  for (int i = 0; i < kRounds; ++i) {
    const uint32_t type = i % 3 == 2 ? MonthlyByWeekdayOffset
                          : i % 3    ? MonthlyByDate
                                     : MonthlyByWeekday;
    std::wstring text = RandomValidToken(random, type);
    CScheduleToken token;
    ASSERT_TRUE(token.Decode(text.c_str()));
    if (!token.has_start) continue;
    // Mostly ordinary steps; sometimes 0 or more than 12.
    token.months = random() % 4 ? 1 + random() % 12 : random() % 16;
    // References up to the year 2200 with some far beyond the start.
    const __time64_t reference =
        random() % 8 ? RandomReference(random)
                     : static_cast<__time64_t>(random() % 7258118400LL);
    const __time64_t start = token.effective_start;
    const std::string trace = std::string(text.begin(), text.end()) +
                              " months " + std::to_string(token.months) +
                              " reference " + std::to_string(reference);
    TokenOccurrences fast;
    TokenOccurrences plain;
    HRESULT fastError = S_OK;
    HRESULT plainError = S_OK;
    try {
      fast = type == MonthlyByDate
                 ? MonthlyByDateOccurrences(token, start, reference)
                 : MonthlyByWeekdayOccurrences(token, start, reference);
    } catch (const NTarn::HResultException& raised) {
      fastError = raised.Error();
    }
    try {
      plain = type == MonthlyByDate
                  ? vpltest::PlainMonthlyByDate(token, start, reference)
                  : vpltest::PlainMonthlyByWeekday(token, start, reference);
    } catch (const NTarn::HResultException& raised) {
      plainError = raised.Error();
    }
    ASSERT_EQ(plainError, fastError) << trace;
    ASSERT_EQ(plain.has_next, fast.has_next) << trace;
    ASSERT_EQ(plain.has_last, fast.has_last) << trace;
    if (plain.has_next) {
      ASSERT_EQ(plain.next, fast.next) << trace;
    }
    if (plain.has_last) {
      ASSERT_EQ(plain.last, fast.last) << trace;
    }
    ++compared;
  }
  EXPECT_GT(compared, kRounds * 9 / 10);
}

}  // namespace
