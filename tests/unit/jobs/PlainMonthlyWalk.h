// The monthly rules walked month by month from the token's start, exactly as
// the rules read: the reference that the product's jumping walk must match.
// Each month's day is found here through the runtime's calendar, not through
// the product's, so that a wrong day in either shows.
#pragma once

#include <ctime>

#include "jobs/Recurrence.h"

class CScheduleToken;

namespace vpltest {

TokenOccurrences PlainMonthlyByWeekday(const CScheduleToken& token,
                                       __time64_t start, __time64_t reference);
TokenOccurrences PlainMonthlyByDate(const CScheduleToken& token,
                                    __time64_t start, __time64_t reference);

}  // namespace vpltest
