// A ConfigMgr schedule: the tokens of one schedule text, written back to back,
// and the occurrences they give around a reference time.
#pragma once

#include <ctime>
#include <memory>
#include <vector>

#include "jobs/ScheduleToken.h"

class CSchedule {
 public:
  // Reported as the end of an occurrence without a duration.
  static constexpr __time64_t kNoNext = 2147483647;

  CSchedule() = default;
  // Parses a non-null text; one that fails leaves the schedule empty.
  explicit CSchedule(const wchar_t* text);
  CSchedule(const CSchedule&) = delete;
  CSchedule& operator=(const CSchedule&) = delete;

  // Replaces the tokens with those of `text`: every whole 16 characters make
  // one token and a shorter tail is ignored. All or nothing: one token that
  // fails to decode leaves the schedule empty and returns false. A null text
  // gives false, an empty one an empty schedule and true.
  bool Parse(const wchar_t* text);

  // The earliest occurrence of any token at or after the reference (`next`,
  // and its `end` if asked) and the latest before it (`last`, gathered only
  // when asked). The reference defaults to now. Returns whether a next start
  // was found; outputs with nothing found keep their values, and `last` is
  // written whenever one was found. A null `next` gives false at once.
  bool GetOccurrences(__time64_t* next, __time64_t* end,
                      const __time64_t* reference, __time64_t* last);

  const std::vector<std::unique_ptr<CScheduleToken>>& tokens() const {
    return m_tokens;
  }

 private:
  std::vector<std::unique_ptr<CScheduleToken>> m_tokens;
};
