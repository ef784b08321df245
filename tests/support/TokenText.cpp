#include "tests/support/TokenText.h"

#include <cwchar>

namespace vpltest {

std::wstring TokenTextFromHalves(uint32_t high, uint32_t low) {
  wchar_t text[17];
  swprintf(text, 17, L"%08X%08X", high, low);
  return text;
}

std::wstring TokenText(const TokenFields& f) {
  const uint32_t high = (f.minute << 26) | (f.hour << 21) | (f.day << 16) |
                        (f.month << 12) | ((f.year - 1970) << 6) |
                        f.duration_minutes;
  uint32_t low = (f.duration_hours << 27) | (f.duration_days << 22) |
                 (f.type << 19) | (f.utc ? 1u : 0u);
  switch (f.type) {
    case 2:
      low |= (f.interval_minutes << 13) | (f.interval_hours << 8) |
             (f.interval_days << 3);
      break;
    case 3:
      low |= (f.weekday << 16) | (f.weeks << 13);
      break;
    case 4:
    case 6:
      low |= (f.weekday << 16) | (f.months << 12) | (f.week_order << 9);
      if (f.type == 6) low |= f.offset_days << 6;
      break;
    case 5:
      low |= (f.month_day << 14) | (f.months << 10);
      break;
  }
  return TokenTextFromHalves(high, low);
}

TokenFields TokenStart(uint32_t year, uint32_t month, uint32_t day,
                       uint32_t hour, uint32_t minute, uint32_t type) {
  TokenFields fields;
  fields.year = year;
  fields.month = month;
  fields.day = day;
  fields.hour = hour;
  fields.minute = minute;
  fields.type = type;
  return fields;
}

TokenFields TokenStart(uint32_t year, uint32_t month, uint32_t day,
                       uint32_t hour, uint32_t minute, uint32_t type,
                       uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  TokenFields f = TokenStart(year, month, day, hour, minute, type);
  switch (type) {
    case 2:
      f.interval_days = a, f.interval_hours = b, f.interval_minutes = c;
      break;
    case 3:
      f.weekday = a, f.weeks = b;
      break;
    case 4:
    case 6:
      f.weekday = a, f.week_order = b, f.months = c, f.offset_days = d;
      break;
    case 5:
      f.month_day = a, f.months = b;
      break;
    default:
      f.duration_hours = a;
  }
  return f;
}

}  // namespace vpltest
