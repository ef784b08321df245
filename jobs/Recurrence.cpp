#include "jobs/Recurrence.h"

#include <cstdint>

#include "jobs/DateTime.h"
#include "jobs/ScheduleToken.h"

namespace {

constexpr int64_t kSecondsPerMinute = 60;
constexpr int64_t kSecondsPerDay = 86400;
constexpr int kDaysPerWeek = 7;

// Distances are taken between the low 32 bits, as the schedules have always
// been evaluated; every time value a token can state fits there.
int32_t Distance32(__time64_t later, __time64_t earlier) {
  return static_cast<int32_t>(static_cast<uint32_t>(later) -
                              static_cast<uint32_t>(earlier));
}

// Occurrences every `period` seconds from `first` (a zero or one-second
// period counts every second). The first occurrence counts as next when it
// is exactly at the reference; a later one there does not.
__time64_t NextInPeriod(__time64_t first, int64_t period,
                        __time64_t reference) {
  const int64_t divisor = period > 1 ? period : 1;
  const int32_t seconds = Distance32(reference, first);
  if (seconds <= 0) return first;
  return first + (seconds / divisor + 1) * divisor;
}

// The latest occurrence at or before the reference; false before `first`.
bool LastInPeriod(__time64_t first, int64_t period, __time64_t reference,
                  __time64_t* last) {
  const int64_t divisor = period > 1 ? period : 1;
  const int32_t seconds = Distance32(reference, first);
  if (seconds < 0) return false;
  *last = first + (seconds / divisor) * divisor;
  return true;
}

}  // namespace

TokenOccurrences OneTimeOccurrences(__time64_t start, __time64_t reference) {
  TokenOccurrences result;
  if (start < reference) {
    result.has_last = true;
    result.last = start;
  } else {
    result.has_next = true;
    result.next = start;
    result.marks_found = true;
  }
  return result;
}

TokenOccurrences IntervalOccurrences(const CScheduleToken& token,
                                     __time64_t start, __time64_t reference) {
  const int64_t period =
      ((token.interval_days * 24LL + token.interval_hours) * 60 +
       token.interval_minutes) *
      kSecondsPerMinute;
  TokenOccurrences result;
  result.has_next = true;
  result.next = NextInPeriod(start, period, reference);
  result.has_last = LastInPeriod(start, period, reference, &result.last);
  return result;
}

TokenOccurrences WeeklyOccurrences(const CScheduleToken& token,
                                   __time64_t start, __time64_t reference) {
  int offset = token.weekday - GetDayOfWeek(token.year, token.month, token.day);
  if (offset < 0) offset += kDaysPerWeek;
  const __time64_t first = start + offset * kSecondsPerDay;
  const int64_t period = token.weeks * kDaysPerWeek * kSecondsPerDay;
  TokenOccurrences result;
  result.has_next = true;
  result.next = NextInPeriod(first, period, reference);
  // The last start is counted from the start itself, not from the first
  // matching weekday.
  result.has_last = LastInPeriod(start, period, reference, &result.last);
  return result;
}
