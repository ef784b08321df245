// The monthly occurrence rules. A monthly token visits every `months`-th
// calendar month from its start month; each visited month holds at most one
// occurrence, rebuilt from local calendar fields at the start's local time of
// day so that it keeps its clock time across daylight-saving changes.
//
// Tokens that could never finish are bounded: 0 months visits the start month
// only, more than 12 months gives no occurrence, and a day of the month that
// no visited month has gives none either.
#pragma once

#include <ctime>
#include <optional>

#include "jobs/DateTime.h"
#include "jobs/Recurrence.h"

class CScheduleToken;

// The token's occurrence in one month at the given local time of day: its
// weekday in the token's week of the month (weeks past the month's end run on
// into the next month) or in the last week, then its offset days later (which
// may run on into the next month too).
__time64_t MonthlyByWeekdayIn(const CScheduleToken& token, int year, int month,
                              const TimeOfDay& time);

// The token's day of the month (0 = the last day) at the given local time of
// day; nothing when the month has no such day.
std::optional<__time64_t> MonthlyByDateIn(const CScheduleToken& token, int year,
                                          int month, const TimeOfDay& time);

// Both start at the month that lies far enough before the reference rather
// than walking every month since the token's start, with the same result.
// The weekday rule serves the tokens with offset days as well.
TokenOccurrences MonthlyByWeekdayOccurrences(const CScheduleToken& token,
                                             __time64_t start,
                                             __time64_t reference);
TokenOccurrences MonthlyByDateOccurrences(const CScheduleToken& token,
                                          __time64_t start,
                                          __time64_t reference);
