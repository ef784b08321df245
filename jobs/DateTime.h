// Time values (seconds since 1970-01-01 00:00:00 UTC) built from and shown as
// calendar fields in the machine's local time zone.
//
// Failures raise NTarn::HResultException: E_FAIL for a calendar field out of
// range, E_INVALIDARG for a conversion the runtime cannot perform. Callers
// catch it where they turn a failure into a safe answer.
#pragma once

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

// 1 = Sunday to 7 = Saturday, 0 when the local conversion back fails.
int GetDayOfWeek(int year, int month, int day);

// The time as local time through wcsftime; empty when the pattern is null,
// the conversion or formatting fails, or the text does not fit 127 characters.
std::wstring FormatLocalTime(__time64_t time, const wchar_t* pattern);

// Gregorian calendar: every fourth year except centuries not divisible by 400.
bool IsLeapYear(int year);

// 28 to 31; month 1-12.
int DaysInMonth(int year, int month);
