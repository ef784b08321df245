#include "tools/vplhost/IsoTime.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace vplhost {
namespace {

// "+01:00" for a local time `offset` seconds ahead of UTC.
std::string OffsetText(__time64_t offset) {
  const char sign = offset < 0 ? '-' : '+';
  const long long minutes = std::llabs(offset) / 60;
  char text[8];
  snprintf(text, sizeof(text), "%c%02lld:%02lld", sign, minutes / 60,
           minutes % 60);
  return text;
}

// The local calendar fields of `time` and its offset from UTC.
bool LocalFields(__time64_t time, tm* fields, __time64_t* offset) {
  if (_localtime64_s(fields, &time) != 0) return false;
  tm copy = *fields;
  const __time64_t asUtc = _mkgmtime64(&copy);
  if (asUtc == -1) return false;
  *offset = asUtc - time;
  return true;
}

std::string Format(const tm& fields, int milliseconds, __time64_t offset) {
  char text[40];
  if (milliseconds < 0) {
    snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d:%02d:%02d",
             fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday,
             fields.tm_hour, fields.tm_min, fields.tm_sec);
  } else {
    snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d:%02d:%02d.%03d",
             fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday,
             fields.tm_hour, fields.tm_min, fields.tm_sec, milliseconds);
  }
  return text + OffsetText(offset);
}

}  // namespace

std::string IsoLocalTime(__time64_t time) {
  tm fields{};
  __time64_t offset = 0;
  if (!LocalFields(time, &fields, &offset)) return std::string();
  return Format(fields, -1, offset);
}

std::string IsoNow() {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER ticks;
  ticks.LowPart = now.dwLowDateTime;
  ticks.HighPart = now.dwHighDateTime;
  // 100-ns ticks since 1601 to seconds and milliseconds since 1970.
  constexpr unsigned long long kEpochTicks = 116444736000000000ULL;
  const unsigned long long sinceEpoch = ticks.QuadPart - kEpochTicks;
  const __time64_t seconds = static_cast<__time64_t>(sinceEpoch / 10000000ULL);
  const int milliseconds = static_cast<int>((sinceEpoch / 10000ULL) % 1000ULL);
  tm fields{};
  __time64_t offset = 0;
  if (!LocalFields(seconds, &fields, &offset)) return std::string();
  return Format(fields, milliseconds, offset);
}

}  // namespace vplhost
