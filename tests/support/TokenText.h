// Builds schedule token texts from their fields, so tests state what a token
// means rather than its digits.
#pragma once

#include <cstdint>
#include <string>

namespace vpltest {

struct TokenFields {
  uint32_t year = 2012;  // 1970 to 2033
  uint32_t month = 1;
  uint32_t day = 1;
  uint32_t hour = 0;
  uint32_t minute = 0;
  uint32_t duration_days = 0;
  uint32_t duration_hours = 0;
  uint32_t duration_minutes = 0;
  uint32_t type = 1;
  uint32_t interval_days = 0;
  uint32_t interval_hours = 0;
  uint32_t interval_minutes = 0;
  uint32_t weekday = 0;
  uint32_t weeks = 0;
  uint32_t week_order = 0;
  uint32_t months = 0;
  uint32_t month_day = 0;
  uint32_t offset_days = 0;
  bool utc = false;
};

// A token of recurrence `type` starting at the given local (or UTC) time;
// tests set the type's own fields on the result.
TokenFields TokenStart(uint32_t year, uint32_t month, uint32_t day,
                       uint32_t hour, uint32_t minute, uint32_t type);

// The same with the type's own fields in this order: interval (2) days,
// hours, minutes; weekly (3) weekday, weeks; monthly by weekday (4, and 6
// with offset days) weekday, week order, months, offset days; monthly by date
// (5) day, months; one-time (1) duration hours.
TokenFields TokenStart(uint32_t year, uint32_t month, uint32_t day,
                       uint32_t hour, uint32_t minute, uint32_t type,
                       uint32_t a, uint32_t b = 0, uint32_t c = 0,
                       uint32_t d = 0);

// Places each field at its bits; fields of other recurrence types are left
// out, as the client writes them.
std::wstring TokenText(const TokenFields& fields);

// The text of two 32-bit halves, upper-case digits.
std::wstring TokenTextFromHalves(uint32_t high, uint32_t low);

}  // namespace vpltest
