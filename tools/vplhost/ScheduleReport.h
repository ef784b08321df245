// `vplhost schedule`: ConfigMgr schedule strings decoded by the product's own
// schedule code, as text for people or one JSON document for scripts.
#pragma once

#include <ctime>
#include <string>
#include <vector>

namespace vplhost {

// Decodes every schedule string (one or more 16-digit tokens back to back)
// and describes each token: its fields and its next and last occurrences
// around `reference` (local time through the product's schedule code).
// Returns kExitSuccess when every token decodes, kExitInvalidToken otherwise;
// invalid tokens are described with the reason and the others still are.
int DescribeSchedules(const std::vector<std::wstring>& schedules, bool json,
                      __time64_t reference, std::string* out);

// A schedule string in words, token by token: "every 0 days 0 hours 20
// minutes from 2026-01-05 08:00"; "does not decode" for one that does not.
std::string DescribeScheduleWords(const std::wstring& schedule);

// "YYYY-MM-DD HH:MM" (or with ":SS") as local time; false when malformed.
bool ParseLocalTime(const std::wstring& text, __time64_t* time);

}  // namespace vplhost
