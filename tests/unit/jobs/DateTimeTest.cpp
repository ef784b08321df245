#include <gtest/gtest.h>
#include <windows.h>

#include "common/HResultException.h"
#include "jobs/DateTime.h"

namespace {

HRESULT MakeLocalTimeError(int year, int month, int day, int hour, int minute,
                           int second) {
  try {
    MakeLocalTime(year, month, day, hour, minute, second, kDstAutomatic);
  } catch (const NTarn::HResultException& raised) {
    return raised.Error();
  }
  return S_OK;
}

HRESULT DayOfWeekError(int year, int month, int day) {
  try {
    GetDayOfWeek(year, month, day);
  } catch (const NTarn::HResultException& raised) {
    return raised.Error();
  }
  return S_OK;
}

tm LocalFields(__time64_t time) {
  tm fields{};
  EXPECT_EQ(0, _localtime64_s(&fields, &time));
  return fields;
}

TEST(MakeLocalTime, BuildsLocalCalendarFields) {
  const tm fields =
      LocalFields(MakeLocalTime(2012, 4, 5, 13, 14, 15, kDstAutomatic));
  EXPECT_EQ(112, fields.tm_year);
  EXPECT_EQ(3, fields.tm_mon);
  EXPECT_EQ(5, fields.tm_mday);
  EXPECT_EQ(13, fields.tm_hour);
  EXPECT_EQ(14, fields.tm_min);
  EXPECT_EQ(15, fields.tm_sec);
}

TEST(MakeLocalTime, DaysPastTheMonthRollOver) {
  EXPECT_EQ(MakeLocalTime(2012, 3, 1, 0, 0, 0, kDstAutomatic),
            MakeLocalTime(2012, 2, 30, 0, 0, 0, kDstAutomatic));
  EXPECT_EQ(MakeLocalTime(2013, 5, 1, 6, 0, 0, kDstAutomatic),
            MakeLocalTime(2013, 4, 31, 6, 0, 0, kDstAutomatic));
}

TEST(MakeLocalTime, FieldsOutOfRangeRaiseFail) {
  EXPECT_EQ(S_OK, MakeLocalTimeError(2012, 12, 31, 23, 59, 59));
  EXPECT_EQ(E_FAIL, MakeLocalTimeError(1899, 6, 1, 0, 0, 0));
  EXPECT_EQ(E_FAIL, MakeLocalTimeError(2012, 0, 1, 0, 0, 0));
  EXPECT_EQ(E_FAIL, MakeLocalTimeError(2012, 13, 1, 0, 0, 0));
  EXPECT_EQ(E_FAIL, MakeLocalTimeError(2012, 1, 0, 0, 0, 0));
  EXPECT_EQ(E_FAIL, MakeLocalTimeError(2012, 1, 32, 0, 0, 0));
  EXPECT_EQ(E_FAIL, MakeLocalTimeError(2012, 1, 1, 24, 0, 0));
  EXPECT_EQ(E_FAIL, MakeLocalTimeError(2012, 1, 1, 0, 60, 0));
  EXPECT_EQ(E_FAIL, MakeLocalTimeError(2012, 1, 1, 0, 0, 60));
}

TEST(MakeLocalTime, UnrepresentableTimeRaisesInvalidArg) {
  // Far before 1970 in every zone: the runtime has no time value for it.
  EXPECT_EQ(E_INVALIDARG, MakeLocalTimeError(1901, 6, 1, 0, 0, 0));
}

TEST(GetDayOfWeek, CountsFromSunday) {
  EXPECT_EQ(5, GetDayOfWeek(2012, 4, 5));   // Thursday
  EXPECT_EQ(1, GetDayOfWeek(2012, 4, 1));   // Sunday
  EXPECT_EQ(7, GetDayOfWeek(2012, 3, 31));  // Saturday
  EXPECT_EQ(5, GetDayOfWeek(1970, 1, 1));   // Thursday
  EXPECT_EQ(2, GetDayOfWeek(2100, 3, 1));   // Monday, after a 28-day February
}

TEST(GetDayOfWeek, RejectsFieldsAndUnrepresentableDays) {
  EXPECT_EQ(E_FAIL, DayOfWeekError(1899, 1, 1));
  EXPECT_EQ(E_FAIL, DayOfWeekError(2012, 13, 1));
  EXPECT_EQ(E_FAIL, DayOfWeekError(2012, 1, 0));
  EXPECT_EQ(E_FAIL, DayOfWeekError(2012, 1, 32));
  EXPECT_EQ(E_INVALIDARG, DayOfWeekError(1950, 1, 1));
}

TEST(DaysInMonth, FollowsTheGregorianCalendar) {
  EXPECT_EQ(31, DaysInMonth(2012, 1));
  EXPECT_EQ(30, DaysInMonth(2012, 4));
  EXPECT_EQ(29, DaysInMonth(2012, 2));
  EXPECT_EQ(28, DaysInMonth(2013, 2));
  EXPECT_EQ(29, DaysInMonth(2000, 2));
  EXPECT_EQ(28, DaysInMonth(2100, 2));
  EXPECT_EQ(28, DaysInMonth(1900, 2));
  EXPECT_EQ(31, DaysInMonth(2012, 12));
}

TEST(FormatLocalTime, LogPatternShowsTheSeconds) {
  const __time64_t time = MakeLocalTime(2012, 4, 5, 13, 4, 9, kDstAutomatic);
  EXPECT_EQ(L"05/04/2012 13:04:09", FormatLocalTime(time, kLogTimePattern));
  // Schedule log lines were written with "%ls" for the seconds, a directive
  // the Windows runtime rejects; it is shown as the seconds.
  EXPECT_EQ(L"05/04/2012 13:04:09",
            FormatLocalTime(time, L"%d/%m/%Y %H:%M:%ls"));
  EXPECT_EQ(L"20120405130409", FormatLocalTime(time, L"%Y%m%d%H%M%S"));
  EXPECT_EQ(L"100% 2012", FormatLocalTime(time, L"100%% %Y"));
}

TEST(FormatLocalTime, FailuresGiveTheEmptyText) {
  const __time64_t time = MakeLocalTime(2012, 4, 5, 13, 4, 9, kDstAutomatic);
  EXPECT_EQ(L"", FormatLocalTime(time, nullptr));
  EXPECT_EQ(L"", FormatLocalTime(time, L""));
  // Directives the runtime does not define never reach it.
  EXPECT_EQ(L"", FormatLocalTime(time, L"%Y %Q"));
  EXPECT_EQ(L"", FormatLocalTime(time, L"%Y %"));
  EXPECT_EQ(L"", FormatLocalTime(time, L"%l"));
  // 128 characters do not fit with the terminator; 127 do.
  EXPECT_EQ(L"", FormatLocalTime(time, std::wstring(128, L'x').c_str()));
  EXPECT_EQ(std::wstring(127, L'x'),
            FormatLocalTime(time, std::wstring(127, L'x').c_str()));
  EXPECT_EQ(L"", FormatLocalTime(-1000000000LL * 100, L"%Y"));
}

TEST(DayNumber, CountsGregorianDaysFromTheEpoch) {
  EXPECT_EQ(0, DayNumber(1970, 1, 1));
  EXPECT_EQ(-1, DayNumber(1969, 12, 31));
  EXPECT_EQ(47541, DayNumber(2100, 2, 29));  // runs on to 1 March
  // Every day from 1900 to 2200 in turn, back to its date and weekday.
  int64_t expected = -25567;
  int weekday = 2;  // 1 January 1900 was a Monday
  for (int year = 1900; year <= 2200; ++year) {
    for (int month = 1; month <= 12; ++month) {
      for (int day = 1; day <= DaysInMonth(year, month); ++day) {
        ASSERT_EQ(expected, DayNumber(year, month, day));
        const CalendarDate date = DateOfDayNumber(expected);
        ASSERT_EQ(year, date.year);
        ASSERT_EQ(month, date.month);
        ASSERT_EQ(day, date.day);
        ASSERT_EQ(weekday, DayOfWeekOfDayNumber(expected));
        ++expected;
        weekday = weekday % 7 + 1;
      }
    }
  }
  EXPECT_EQ(84371, expected);  // 1 January 2201
}

}  // namespace
