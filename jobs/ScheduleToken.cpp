#include "jobs/ScheduleToken.h"

#include <windows.h>

#include <cwchar>

#include "common/HResultException.h"
#include "common/Logging.h"
#include "jobs/Clock.h"
#include "jobs/DateTime.h"

namespace {

constexpr size_t kHalfLength = 8;

uint32_t Bits(uint32_t half, int low, int width) {
  return (half >> low) & ((1u << width) - 1);
}

int HexDigitValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// Reads eight hexadecimal digits, most significant first. At the first other
// character the reading fails and the half holds the digits before it.
bool ReadHalf(const wchar_t* text, uint32_t* half) {
  *half = 0;
  for (size_t i = 0; i < kHalfLength; ++i) {
    const int digit = HexDigitValue(text[i]);
    if (digit < 0) return false;
    *half = (*half << 4) | static_cast<uint32_t>(digit);
  }
  return true;
}

}  // namespace

CScheduleToken::CScheduleToken() : nominal_start(CurrentTime()) {}

void CScheduleToken::Reset() { *this = CScheduleToken(); }

bool CScheduleToken::Decode(const wchar_t* text) {
  Reset();
  if (!text || ::wcsnlen(text, kTextLength + 1) != kTextLength) return false;

  uint32_t high = 0;
  uint32_t low = 0;
  const bool readHigh = ReadHalf(text, &high);
  const bool readLow = ReadHalf(text + kHalfLength, &low);
  if ((!readHigh || !readLow) &&
      NTarn::IsDebugFlagSet(NTarn::debug_flags::kVerbose)) {
    NTarn::LogMessage("%T: Error whilst converting schedule token\n");
  }

  const int32_t startMinute = Bits(high, 26, 6);
  const int32_t startHour = Bits(high, 21, 5);
  const int32_t startDay = Bits(high, 16, 5);
  const int32_t startMonth = Bits(high, 12, 4);
  const int32_t yearOffset = Bits(high, 6, 6);
  if (startMinute > 59 || startHour > 23 || startMonth < 1 || startMonth > 12) {
    return false;
  }
  // Day 1 of 1970 can lie before the epoch in zones east of UTC, so the
  // effective start moves to the second day.
  const bool statesEpochDay =
      yearOffset == 0 && startMonth == 1 && startDay == 1;

  year = yearOffset + 1970;
  month = startMonth;
  day = statesEpochDay ? 2 : startDay;
  hour = startHour;
  minute = startMinute;
  utc = Bits(low, 0, 1);
  has_start = ComputeStart(statesEpochDay);

  duration_minutes = Bits(high, 0, 6);
  duration_hours = Bits(low, 27, 5);
  duration_days = Bits(low, 22, 5);
  recurrence_type = Bits(low, 19, 3);
  switch (recurrence_type) {
    case Interval:
      interval_minutes = Bits(low, 13, 6);
      interval_hours = Bits(low, 8, 5);
      interval_days = Bits(low, 3, 5);
      return true;
    case Weekly:
      weekday = Bits(low, 16, 3);
      weeks = Bits(low, 13, 3);
      return true;
    case MonthlyByWeekday:
    case MonthlyByWeekdayOffset:
      weekday = Bits(low, 16, 3);
      months = Bits(low, 12, 4);
      week_order = Bits(low, 9, 3);
      if (recurrence_type == MonthlyByWeekdayOffset)
        offset_days = Bits(low, 6, 3);
      return true;
    case MonthlyByDate:
      month_day = Bits(low, 14, 5);
      months = Bits(low, 10, 4);
      return true;
    case OneTime:
      return true;
    default:
      return false;
  }
}

// A start without a time value leaves the token decoded but without
// occurrences, so that one bad token does not hide the others of a schedule.
bool CScheduleToken::ComputeStart(bool statesEpochDay) {
  // A UTC token names its instant in UTC, fields rolling over as they come.
  const auto startOn = [this](int startDay) {
    return utc ? MakeUtcTime(year, month, startDay, hour, minute, 0)
               : MakeLocalTime(year, month, startDay, hour, minute, 0,
                               kDstAutomatic);
  };
  try {
    effective_start = startOn(day);
  } catch (const NTarn::HResultException&) {
    effective_start = 0;
    return false;
  }
  nominal_start = effective_start;
  if (statesEpochDay) {
    try {
      nominal_start = startOn(1);
    } catch (const NTarn::HResultException&) {
      // East of UTC the stated day can lie before the epoch; the token keeps
      // its effective start as the nominal one.
    }
  }
  return true;
}
