// One decoded ConfigMgr schedule token: 16 hexadecimal digits giving a start,
// a duration and a recurrence rule.
#pragma once

#include <cstdint>
#include <ctime>

enum RecurrenceType : int32_t {
  OneTime = 1,
  Interval = 2,
  Weekly = 3,
  MonthlyByWeekday = 4,
  MonthlyByDate = 5,
  // As MonthlyByWeekday, then a number of calendar days later.
  MonthlyByWeekdayOffset = 6,
};

class CScheduleToken {
 public:
  static constexpr size_t kTextLength = 16;

  // The current time as nominal start, every other field 0.
  CScheduleToken();

  // Decodes exactly 16 characters (null allowed). False for a wrong length,
  // an out-of-range minute, hour or month, or recurrence type 0 or 7; the
  // fields read by then stay filled. A start that has no time value
  // does not fail the token: it decodes, but `has_start` is false and it has
  // no occurrences.
  bool Decode(const wchar_t* text);

  __time64_t nominal_start;
  int32_t year = 0;
  int32_t month = 0;
  // As decoded, except 2 where the token states 1 January 1970.
  int32_t day = 0;
  int32_t hour = 0;
  int32_t minute = 0;
  int32_t duration_minutes = 0;
  int32_t duration_hours = 0;
  int32_t duration_days = 0;
  int32_t recurrence_type = 0;
  int32_t interval_minutes = 0;
  int32_t interval_hours = 0;
  int32_t interval_days = 0;
  // 1 = Sunday to 7 = Saturday.
  int32_t weekday = 0;
  int32_t weeks = 0;
  // 0 = last week of the month, 1 = first, and so on.
  int32_t week_order = 0;
  // Days after the weekday's occurrence, 0 to 7; 0 for every other type.
  int32_t offset_days = 0;
  int32_t months = 0;
  // 0 = last day of the month.
  int32_t month_day = 0;
  int32_t utc = 0;
  // The start the occurrence rules count from.
  __time64_t effective_start = 0;
  bool has_start = false;

 private:
  void Reset();
  bool ComputeStart(bool statesEpochDay);
};
