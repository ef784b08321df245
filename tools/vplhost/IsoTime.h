// Times as vplhost writes them: ISO 8601 local time with its UTC offset.
#pragma once

#include <ctime>
#include <string>

namespace vplhost {

// "2026-03-02T10:05:00+01:00"; empty for a time with no calendar form.
std::string IsoLocalTime(__time64_t time);
// The current local time to the millisecond: "2026-03-02T10:05:00.123+01:00".
std::string IsoNow();

}  // namespace vplhost
