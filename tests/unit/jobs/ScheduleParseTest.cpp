#include <gtest/gtest.h>

#include <string>

#include "jobs/DateTime.h"
#include "jobs/Schedule.h"
#include "tests/support/TokenText.h"

namespace {

using vpltest::TokenFields;
using vpltest::TokenText;

std::wstring OneTimeAt(uint32_t day, uint32_t hour) {
  return TokenText(vpltest::TokenStart(2012, 6, day, hour, 0, OneTime));
}

std::wstring Invalid() {
  TokenFields fields;
  fields.type = 0;
  return TokenText(fields);
}

TEST(ScheduleParse, TokensBackToBackInOrder) {
  CSchedule schedule;
  ASSERT_TRUE(schedule.Parse(
      (OneTimeAt(3, 8) + OneTimeAt(4, 9) + OneTimeAt(5, 10)).c_str()));
  ASSERT_EQ(3u, schedule.tokens().size());
  EXPECT_EQ(3, schedule.tokens()[0]->day);
  EXPECT_EQ(4, schedule.tokens()[1]->day);
  EXPECT_EQ(5, schedule.tokens()[2]->day);
  EXPECT_EQ(MakeLocalTime(2012, 6, 4, 9, 0, 0, kDstAutomatic),
            schedule.tokens()[1]->effective_start);
}

// Each text parsed over a good one, and constructed: a short tail is
// ignored, a bad token leaves nothing, a token without a local start stays;
// the constructor swallows a failure.
TEST(ScheduleParse, AllOrNothingAndShortTailIgnored) {
  const std::wstring a = OneTimeAt(3, 8), b = OneTimeAt(4, 8);
  // clang-format off
  const struct { std::wstring text; bool null, parsed; size_t tokens; } cases[] = {
      {L"", false, true, 0}, {a.substr(0, 15), false, true, 0}, {a + L"Z", false, true, 1},
      {a + b.substr(0, 15), false, true, 1}, {a + Invalid(), false, false, 0}, {Invalid() + a, false, false, 0},
      {L"", true, false, 0}, {a + b, false, true, 2}, {OneTimeAt(0, 8) + b, false, true, 2},
  };
  // clang-format on
  for (const auto& c : cases) {
    const wchar_t* text = c.null ? nullptr : c.text.c_str();
    SCOPED_TRACE(c.null ? "null" : std::string(c.text.begin(), c.text.end()));
    CSchedule schedule;
    ASSERT_TRUE(schedule.Parse(a.c_str()));
    EXPECT_EQ(c.parsed, schedule.Parse(text));
    EXPECT_EQ(c.tokens, schedule.tokens().size());
    EXPECT_EQ(c.tokens, CSchedule(text).tokens().size());
  }
}

}  // namespace
