// Zone-dependent suites. Each zone has its own CTest entry that starts the
// unit tests with the zone's Unix TZ and VPL_TEST_ZONE naming it; there the
// suite fails if the zone did not take. In any other run the suite runs only
// if the machine happens to be in that zone and is skipped otherwise.
#pragma once

#include <gtest/gtest.h>

#include <ctime>

namespace vpltest {

enum class TimeZone { kUtc, kLondon, kSydney, kNewYork };

// Whether local time behaves as the zone's does (offsets in January and July).
bool IsInTimeZone(TimeZone zone);
// Whether this run was started for the zone.
bool IsRunForTimeZone(TimeZone zone);

// UTC calendar fields as a time value.
__time64_t UtcTime(int year, int month, int day, int hour, int minute,
                   int second = 0);

template <TimeZone kZone>
class TimeZoneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (IsInTimeZone(kZone)) return;
    if (IsRunForTimeZone(kZone)) FAIL() << "this run's zone did not take";
    GTEST_SKIP() << "not in this suite's time zone";
  }
};

}  // namespace vpltest
