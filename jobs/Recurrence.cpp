#include "jobs/Recurrence.h"

#include <cstdint>

#include "jobs/DateTime.h"
#include "jobs/ScheduleToken.h"

namespace {

constexpr int64_t kSecondsPerMinute = 60;
constexpr int64_t kSecondsPerDay = 86400;
constexpr int kDaysPerWeek = 7;

// Occurrences every `period` seconds from `first` (a zero or one-second
// period counts every second). The first occurrence counts as next when it
// is exactly at the reference; a later one there does not.
__time64_t NextInPeriod(__time64_t first, int64_t period,
                        __time64_t reference) {
  const int64_t divisor = period > 1 ? period : 1;
  const int64_t seconds = reference - first;
  if (seconds <= 0) return first;
  return first + (seconds / divisor + 1) * divisor;
}

// The latest occurrence at or before the reference; false before `first`.
bool LastInPeriod(__time64_t first, int64_t period, __time64_t reference,
                  __time64_t* last) {
  const int64_t divisor = period > 1 ? period : 1;
  const int64_t seconds = reference - first;
  if (seconds < 0) return false;
  *last = first + (seconds / divisor) * divisor;
  return true;
}

// Occurrences every `period` calendar days from `offset` days after the
// start, each at the start's local time of day, so that a daylight-saving
// change between them does not move their clock time. Same next and last
// rules as the fixed periods.
class DaySteps {
 public:
  DaySteps(__time64_t start, int offset, int64_t periodDays)
      : m_timeOfDay(LocalTimeOfDay(start)),
        m_firstDay(LocalDayNumber(start) + offset),
        m_first(offset == 0 ? start
                            : MakeLocalTimeOnDay(m_firstDay, m_timeOfDay)),
        m_periodDays(periodDays) {}

  __time64_t Next(__time64_t reference) const {
    if (reference <= m_first) return m_first;
    // Earlier steps end on days before the reference's day.
    int64_t step = StepsToDayOf(reference);
    if (step < 1) step = 1;
    while (At(step) <= reference) ++step;
    return At(step);
  }

  bool Last(__time64_t reference, __time64_t* last) const {
    if (reference < m_first) return false;
    int64_t step = StepsToDayOf(reference);
    if (step < 0) step = 0;
    while (step > 0 && At(step) > reference) --step;
    *last = At(step);
    return true;
  }

 private:
  // Whole periods from the first day to the reference's local day.
  int64_t StepsToDayOf(__time64_t reference) const {
    return (LocalDayNumber(reference) - m_firstDay) / m_periodDays;
  }

  __time64_t At(int64_t step) const {
    if (step == 0) return m_first;
    return MakeLocalTimeOnDay(m_firstDay + step * m_periodDays, m_timeOfDay);
  }

  const TimeOfDay m_timeOfDay;
  const int64_t m_firstDay;
  const __time64_t m_first;
  const int64_t m_periodDays;
};

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
  TokenOccurrences result;
  result.has_next = true;
  if (token.interval_days > 0 && token.interval_hours == 0 &&
      token.interval_minutes == 0) {
    // Whole days keep the clock time of the start.
    const DaySteps days(start, 0, token.interval_days);
    result.next = days.Next(reference);
    result.has_last = days.Last(reference, &result.last);
    return result;
  }
  const int64_t period =
      ((token.interval_days * 24LL + token.interval_hours) * 60 +
       token.interval_minutes) *
      kSecondsPerMinute;
  result.next = NextInPeriod(start, period, reference);
  result.has_last = LastInPeriod(start, period, reference, &result.last);
  return result;
}

TokenOccurrences WeeklyOccurrences(const CScheduleToken& token,
                                   __time64_t start, __time64_t reference) {
  int offset = token.weekday - GetDayOfWeek(token.year, token.month, token.day);
  if (offset < 0) offset += kDaysPerWeek;
  TokenOccurrences result;
  result.has_next = true;
  if (token.weeks == 0) {
    // No weeks between occurrences: every second from the first, as for an
    // empty interval.
    const __time64_t first = start + offset * kSecondsPerDay;
    result.next = NextInPeriod(first, 0, reference);
    result.has_last = LastInPeriod(first, 0, reference, &result.last);
    return result;
  }
  // Next and last start both count from the first occurrence on the token's
  // weekday, so that the last start falls on that weekday too.
  const DaySteps steps(start, offset, token.weeks * kDaysPerWeek);
  result.next = steps.Next(reference);
  result.has_last = steps.Last(reference, &result.last);
  return result;
}
