// The occurrence rules of the recurrence types: what one schedule token
// contributes around a reference time. Each rule counts from `start`, the
// token's effective start. Rules that step in calendar days (weekly, whole-day
// intervals, monthly) rebuild each occurrence at the start's local time of
// day and throw the HRESULT errors of the local conversions; the caller drops
// such a token. Intervals with an hour or minute part are fixed numbers of
// seconds apart.
#pragma once

#include <ctime>

class CScheduleToken;

struct TokenOccurrences {
  // The earliest occurrence at or after the reference, if any.
  bool has_next = false;
  __time64_t next = 0;
  // A one-time token at or after the reference counts as having a next start
  // even when an earlier token's next start wins.
  bool marks_found = false;
  // The latest occurrence before the reference (interval and weekly rules:
  // at or before it), if any.
  bool has_last = false;
  __time64_t last = 0;
};

TokenOccurrences OneTimeOccurrences(__time64_t start, __time64_t reference);
TokenOccurrences IntervalOccurrences(const CScheduleToken& token,
                                     __time64_t start, __time64_t reference);
TokenOccurrences WeeklyOccurrences(const CScheduleToken& token,
                                   __time64_t start, __time64_t reference);
