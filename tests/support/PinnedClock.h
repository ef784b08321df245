// Pins the schedule code's "now" for the lifetime of the object.
#pragma once

#include <ctime>

#include "jobs/Clock.h"

namespace vpltest {

class PinnedClock {
 public:
  explicit PinnedClock(__time64_t now) {
    m_now = now;
    SetTimeSourceForTesting(&Now);
  }
  ~PinnedClock() { SetTimeSourceForTesting(nullptr); }
  PinnedClock(const PinnedClock&) = delete;
  PinnedClock& operator=(const PinnedClock&) = delete;

  void Set(__time64_t now) { m_now = now; }

 private:
  static __time64_t Now() { return m_now; }
  static inline __time64_t m_now = 0;
};

}  // namespace vpltest
