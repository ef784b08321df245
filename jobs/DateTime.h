// Time values (seconds since 1970-01-01 00:00:00 UTC) built from and shown as
// calendar fields in the machine's local time zone.
//
// Failures raise NTarn::HResultException: E_FAIL for a calendar field out of
// range, E_INVALIDARG for a conversion the runtime cannot perform. Callers
// catch it where they turn a failure into a safe answer.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

// Daylight-saving flag as the runtime's broken-down time takes it.
constexpr int kDstAutomatic = -1;

// Day/month/year hour:minute:second, local time, for schedule log lines.
constexpr wchar_t kLogTimePattern[] = L"%d/%m/%Y %H:%M:%S";

// Converts local calendar fields (month 1-12) to a time value. Days beyond the
// month's end roll over into the next month. Never returns -1.
__time64_t MakeLocalTime(int year, int month, int day, int hour, int minute,
                         int second, int daylightSaving);

// Converts UTC calendar fields (month 1-12) to a time value. Fields beyond
// their range roll over, as the runtime does.
__time64_t MakeUtcTime(int year, int month, int day, int hour, int minute,
                       int second);

// 1 = Sunday to 7 = Saturday, 0 when the local conversion back fails.
int GetDayOfWeek(int year, int month, int day);

// Calendar days, counted without the runtime so that any date can be reached:
// a date's day number is its distance in days from 1 January 1970.
struct CalendarDate {
  int year = 0;
  int month = 0;
  int day = 0;
};

struct TimeOfDay {
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// Days beyond the month's end run on into the following months.
int64_t DayNumber(int year, int month, int day);
CalendarDate DateOfDayNumber(int64_t dayNumber);
// 1 = Sunday to 7 = Saturday.
int DayOfWeekOfDayNumber(int64_t dayNumber);

// The local day number and time of day of a time value; E_INVALIDARG when
// the runtime cannot convert it.
int64_t LocalDayNumber(__time64_t time);
TimeOfDay LocalTimeOfDay(__time64_t time);

// The time of day on the day as local time, daylight saving automatic; the
// errors of MakeLocalTime.
__time64_t MakeLocalTimeOnDay(int64_t dayNumber, const TimeOfDay& time);

// The time as local time through wcsftime; empty when the pattern is null,
// the conversion or formatting fails, or the text does not fit 127 characters.
std::wstring FormatLocalTime(__time64_t time, const wchar_t* pattern);

// Gregorian calendar: every fourth year except centuries not divisible by 400.
bool IsLeapYear(int year);

// 28 to 31; month 1-12.
int DaysInMonth(int year, int month);
