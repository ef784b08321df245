#include "jobs/MonthlyRecurrence.h"

#include <windows.h>

#include <cstdint>

#include "common/HResultException.h"
#include "jobs/DateTime.h"
#include "jobs/ScheduleToken.h"

namespace {

constexpr int kDaysPerWeek = 7;
constexpr int kMonthsPerYear = 12;

int MonthIndex(int year, int month) {
  return year * kMonthsPerYear + month - 1;
}
int YearOf(int index) { return index / kMonthsPerYear; }
int MonthOf(int index) { return index % kMonthsPerYear + 1; }

// Walks the visited months of one token. OccurrenceIn(index) gives the
// occurrence in that month or nothing when the month has none.
template <typename OccurrenceIn>
class MonthWalk {
 public:
  MonthWalk(const OccurrenceIn& occurrenceIn, int startIndex, int step,
            __time64_t start, __time64_t reference)
      : m_occurrenceIn(occurrenceIn),
        m_startIndex(startIndex),
        m_step(step),
        m_start(start),
        m_reference(reference) {}

  TokenOccurrences Run() const {
    TokenOccurrences result;
    for (int index = FirstMonth();; index += m_step) {
      const std::optional<__time64_t> t = m_occurrenceIn(index);
      if (t && *t >= m_start) {
        if (*t >= m_reference) {
          result.has_next = true;
          result.next = *t;
          return result;
        }
        result.has_last = true;
        result.last = *t;
      }
      if (m_step == 0) return result;
    }
  }

 private:
  // Occurrences grow with the month, and one that runs on past its month
  // (seven weeks of week order and seven offset days at most, 55 days) ends
  // within the second month after it. So every visited month before the
  // reference's month is one the plain walk passes through, and the latest of
  // them whose occurrence lies before the reference supersedes all earlier
  // ones: the walk can start there.
  int FirstMonth() const {
    if (m_step == 0) return m_startIndex;
    tm fields{};
    if (_localtime64_s(&fields, &m_reference) != 0) return m_startIndex;
    const int before = MonthIndex(fields.tm_year + 1900, fields.tm_mon + 1) - 1;
    if (before <= m_startIndex) return m_startIndex;
    // Only the first month of 1970 can lie before the epoch and fail to
    // convert; the walk from the start would have met that failure.
    if (m_startIndex == MonthIndex(1970, 1)) m_occurrenceIn(m_startIndex);
    for (int index = m_startIndex + (before - m_startIndex) / m_step * m_step;
         index > m_startIndex; index -= m_step) {
      const std::optional<__time64_t> t = m_occurrenceIn(index);
      if (t && *t < m_reference) return index;
    }
    return m_startIndex;
  }

  const OccurrenceIn& m_occurrenceIn;
  const int m_startIndex;
  const int m_step;
  const __time64_t m_start;
  const __time64_t m_reference;
};

template <typename OccurrenceIn>
TokenOccurrences WalkMonths(const OccurrenceIn& occurrenceIn, int startIndex,
                            int step, __time64_t start, __time64_t reference) {
  return MonthWalk<OccurrenceIn>(occurrenceIn, startIndex, step, start,
                                 reference)
      .Run();
}

bool IsUsableStep(int months) {
  return months >= 0 && months <= kMonthsPerYear;
}

// Whether any month visited from `firstMonth` every `step` months can hold
// `day`. Day 29 always can: visiting February alone means every year, and
// leap years come round.
bool SomeVisitedMonthHasDay(int firstMonth, int step, int day) {
  constexpr int kLeapYear = 2000;
  int month = firstMonth;
  for (int i = 0; i < kMonthsPerYear; ++i) {
    if (DaysInMonth(kLeapYear, month) >= day) return true;
    month = (month - 1 + step) % kMonthsPerYear + 1;
  }
  return false;
}

}  // namespace

__time64_t MonthlyByWeekdayIn(const CScheduleToken& token, int year, int month,
                              const TimeOfDay& time) {
  if (token.week_order != 0) {
    const int64_t first = DayNumber(year, month, 1);
    int offset = token.weekday - DayOfWeekOfDayNumber(first);
    if (offset < 0) offset += kDaysPerWeek;
    const int days = offset + kDaysPerWeek * token.week_order - kDaysPerWeek;
    return MakeLocalTimeOnDay(
        (days > 0 ? first + days : first) + token.offset_days, time);
  }
  const int64_t lastDay = DayNumber(year, month, DaysInMonth(year, month));
  int back = DayOfWeekOfDayNumber(lastDay) - token.weekday;
  if (back < 0) back += kDaysPerWeek;
  return MakeLocalTimeOnDay(lastDay - back + token.offset_days, time);
}

std::optional<__time64_t> MonthlyByDateIn(const CScheduleToken& token, int year,
                                          int month, const TimeOfDay& time) {
  int day = token.month_day;
  if (day == 0) {
    day = DaysInMonth(year, month);
  } else if (day > DaysInMonth(year, month)) {
    return std::nullopt;
  }
  return MakeLocalTime(year, month, day, time.hour, time.minute, time.second,
                       kDstAutomatic);
}

TokenOccurrences MonthlyByWeekdayOccurrences(const CScheduleToken& token,
                                             __time64_t start,
                                             __time64_t reference) {
  if (!IsUsableStep(token.months)) return TokenOccurrences();
  const TimeOfDay time = LocalTimeOfDay(start);
  const auto occurrenceIn = [&token,
                             &time](int index) -> std::optional<__time64_t> {
    return MonthlyByWeekdayIn(token, YearOf(index), MonthOf(index), time);
  };
  return WalkMonths(occurrenceIn, MonthIndex(token.year, token.month),
                    token.months, start, reference);
}

TokenOccurrences MonthlyByDateOccurrences(const CScheduleToken& token,
                                          __time64_t start,
                                          __time64_t reference) {
  // The month and time of day come from the start as local time.
  tm fields{};
  if (_localtime64_s(&fields, &start) != 0) NTarn::ThrowHResult(E_INVALIDARG);
  const int firstMonth = fields.tm_mon + 1;
  if (!IsUsableStep(token.months)) return TokenOccurrences();
  if (token.months != 0 &&
      !SomeVisitedMonthHasDay(firstMonth, token.months, token.month_day)) {
    return TokenOccurrences();
  }
  const TimeOfDay time{fields.tm_hour, fields.tm_min, fields.tm_sec};
  const auto occurrenceIn = [&token, &time](int index) {
    return MonthlyByDateIn(token, YearOf(index), MonthOf(index), time);
  };
  return WalkMonths(occurrenceIn, MonthIndex(fields.tm_year + 1900, firstMonth),
                    token.months, start, reference);
}
