#include "tests/unit/jobs/TimeZones.h"

#include <windows.h>

#include <cstring>

namespace vpltest {

namespace {

// Seconds that local time is ahead of UTC at `time`.
long long LocalOffset(__time64_t time) {
  tm local{};
  if (_localtime64_s(&local, &time) != 0) return -1;
  return _mkgmtime64(&local) - time;
}

const char* ZoneName(TimeZone zone) {
  switch (zone) {
    case TimeZone::kUtc:
      return "UTC";
    case TimeZone::kLondon:
      return "London";
    case TimeZone::kSydney:
      return "Sydney";
    case TimeZone::kNewYork:
      return "NewYork";
  }
  return "";
}

}  // namespace

__time64_t UtcTime(int year, int month, int day, int hour, int minute,
                   int second) {
  tm fields{};
  fields.tm_year = year - 1900;
  fields.tm_mon = month - 1;
  fields.tm_mday = day;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = second;
  return _mkgmtime64(&fields);
}

bool IsInTimeZone(TimeZone zone) {
  const long long january = LocalOffset(UtcTime(2012, 1, 15, 12, 0));
  const long long july = LocalOffset(UtcTime(2012, 7, 15, 12, 0));
  switch (zone) {
    case TimeZone::kUtc:
      return january == 0 && july == 0;
    case TimeZone::kLondon:
      return january == 0 && july == 3600;
    case TimeZone::kSydney:
      return january == 39600 && july == 36000;
    case TimeZone::kNewYork:
      return january == -18000 && july == -14400;
  }
  return false;
}

bool IsRunForTimeZone(TimeZone zone) {
  char name[32] = "";
  const DWORD length =
      ::GetEnvironmentVariableA("VPL_TEST_ZONE", name, sizeof(name));
  return length > 0 && length < sizeof(name) &&
         std::strcmp(name, ZoneName(zone)) == 0;
}

}  // namespace vpltest
