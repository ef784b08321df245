#include <gtest/gtest.h>

#include <string>

#include "jobs/DateTime.h"
#include "jobs/Schedule.h"
#include "tests/support/TokenText.h"

namespace {

using vpltest::TokenFields;
using vpltest::TokenText;

std::wstring OneTimeAt(uint32_t day, uint32_t hour) {
  TokenFields fields;
  fields.year = 2012;
  fields.month = 6;
  fields.day = day;
  fields.hour = hour;
  fields.type = OneTime;
  return TokenText(fields);
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

TEST(ScheduleParse, ShortTailIsIgnored) {
  CSchedule schedule;
  EXPECT_TRUE(schedule.Parse(L""));
  EXPECT_TRUE(schedule.tokens().empty());
  EXPECT_TRUE(schedule.Parse(OneTimeAt(3, 8).substr(0, 15).c_str()));
  EXPECT_TRUE(schedule.tokens().empty());
  EXPECT_TRUE(schedule.Parse((OneTimeAt(3, 8) + L"Z").c_str()));
  EXPECT_EQ(1u, schedule.tokens().size());
  EXPECT_TRUE(schedule.Parse(
      (OneTimeAt(3, 8) + OneTimeAt(4, 8).substr(0, 15)).c_str()));
  EXPECT_EQ(1u, schedule.tokens().size());
}

TEST(ScheduleParse, AllOrNothing) {
  CSchedule schedule;
  ASSERT_TRUE(schedule.Parse(OneTimeAt(3, 8).c_str()));
  EXPECT_FALSE(schedule.Parse((OneTimeAt(3, 8) + Invalid()).c_str()));
  EXPECT_TRUE(schedule.tokens().empty());
  ASSERT_TRUE(schedule.Parse(OneTimeAt(3, 8).c_str()));
  EXPECT_FALSE(schedule.Parse((Invalid() + OneTimeAt(3, 8)).c_str()));
  EXPECT_TRUE(schedule.tokens().empty());
  ASSERT_TRUE(schedule.Parse(OneTimeAt(3, 8).c_str()));
  EXPECT_FALSE(schedule.Parse(nullptr));
  EXPECT_TRUE(schedule.tokens().empty());
}

TEST(ScheduleParse, ConstructorParsesAndSwallowsFailure) {
  EXPECT_EQ(
      2u,
      CSchedule((OneTimeAt(3, 8) + OneTimeAt(4, 8)).c_str()).tokens().size());
  EXPECT_TRUE(
      CSchedule((OneTimeAt(3, 8) + Invalid()).c_str()).tokens().empty());
  EXPECT_TRUE(CSchedule(nullptr).tokens().empty());
  // A token without a local start stays in the list.
  EXPECT_EQ(
      2u,
      CSchedule((OneTimeAt(0, 8) + OneTimeAt(4, 8)).c_str()).tokens().size());
}

}  // namespace
