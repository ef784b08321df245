#include <gtest/gtest.h>
#include <windows.h>

#include "common/HResultException.h"
#include "jobs/AutomationDate.h"
#include "jobs/DateTime.h"

namespace {

constexpr wchar_t kCimPrefix[] = L"%Y%m%d%H%M%S";

HRESULT FormatError(const CAutomationDate& date, const wchar_t* pattern) {
  try {
    date.Format(pattern);
  } catch (const NTarn::HResultException& raised) {
    return raised.Error();
  }
  return S_OK;
}

TEST(AutomationDate, FormatsWholeDaysAndFraction) {
  EXPECT_EQ(L"19000101060000",
            CAutomationDate(2.25, CAutomationDate::kValid).Format(kCimPrefix));
  EXPECT_EQ(L"18991230000000",
            CAutomationDate(0.0, CAutomationDate::kValid).Format(kCimPrefix));
  EXPECT_EQ(L"18991229060000",
            CAutomationDate(-1.25, CAutomationDate::kValid).Format(kCimPrefix));
  // Weekday and day of year reach the runtime too.
  EXPECT_EQ(L"Mon 001",
            CAutomationDate(2.25, CAutomationDate::kValid).Format(L"%a %j"));
}

TEST(AutomationDate, StatusDecidesTheText) {
  const CAutomationDate invalid(2.25, CAutomationDate::kInvalid);
  EXPECT_EQ(L"Invalid DateTime", invalid.Format(kCimPrefix));
  EXPECT_EQ(L"Invalid DateTime", invalid.Format(L""));
  const CAutomationDate null(2.25, CAutomationDate::kNull);
  EXPECT_EQ(L"", null.Format(kCimPrefix));
  // Beyond the automation range the platform cannot split the date.
  EXPECT_EQ(L"Invalid DateTime",
            CAutomationDate(1e9, CAutomationDate::kValid).Format(kCimPrefix));
}

TEST(AutomationDate, PatternFailures) {
  const CAutomationDate date(2.25, CAutomationDate::kValid);
  EXPECT_EQ(E_INVALIDARG, FormatError(date, nullptr));
  EXPECT_EQ(E_INVALIDARG,
            FormatError(CAutomationDate(0, CAutomationDate::kNull), nullptr));
  EXPECT_EQ(L"", date.Format(L"%Y%Q"));
  EXPECT_EQ(L"", date.Format(std::wstring(256, L'y').c_str()));
  EXPECT_EQ(std::wstring(255, L'y'),
            date.Format(std::wstring(255, L'y').c_str()));
}

TEST(AutomationDate, SubtractMinutesAcrossDayZero) {
  const CAutomationDate one(1.0, CAutomationDate::kInvalid);
  const CAutomationDate result = one.SubtractMinutes(1440);
  EXPECT_DOUBLE_EQ(0.0, result.date());
  EXPECT_EQ(CAutomationDate::kValid, result.status());

  const CAutomationDate quarter(0.25, CAutomationDate::kValid);
  EXPECT_DOUBLE_EQ(-1.25, quarter.SubtractMinutes(1440).date());
  // Back the other way, and a negative date moving further back.
  EXPECT_DOUBLE_EQ(0.25, CAutomationDate(-1.25, CAutomationDate::kValid)
                             .SubtractMinutes(-1440)
                             .date());
  EXPECT_DOUBLE_EQ(-2.25, CAutomationDate(-1.75, CAutomationDate::kValid)
                              .SubtractMinutes(2160)
                              .date());
  EXPECT_DOUBLE_EQ(-1.0, CAutomationDate(1.0, CAutomationDate::kValid)
                             .SubtractMinutes(2880)
                             .date());
  EXPECT_EQ(L"18991229180000", CAutomationDate(0.25, CAutomationDate::kValid)
                                   .SubtractMinutes(720)
                                   .Format(kCimPrefix));
}

TEST(AutomationDate, FromTimeValueIsLocalTime) {
  const __time64_t time = MakeLocalTime(2012, 4, 5, 13, 14, 15, kDstAutomatic);
  const CAutomationDate date(time);
  EXPECT_EQ(CAutomationDate::kValid, date.status());
  EXPECT_EQ(L"20120405131415", date.Format(kCimPrefix));
  EXPECT_EQ(L"20120405124415", date.SubtractMinutes(30).Format(kCimPrefix));
  EXPECT_EQ(L"20120404131415", date.SubtractMinutes(1440).Format(kCimPrefix));
}

TEST(AutomationDate, TimeWithoutLocalFormIsInvalid) {
  const CAutomationDate date(static_cast<__time64_t>(-100000000000LL));
  EXPECT_EQ(CAutomationDate::kInvalid, date.status());
  EXPECT_DOUBLE_EQ(0.0, date.date());
  EXPECT_EQ(L"Invalid DateTime", date.Format(kCimPrefix));
}

}  // namespace
