// Pins the schedule code's "now" for the lifetime of the object.
#pragma once

#include <ctime>

#include "jobs/Clock.h"

namespace vpltest {

class PinnedClock {
 public:
  explicit PinnedClock(__time64_t now) {
    now_ = now;
    SetTimeSourceForTesting(&Now);
  }
  ~PinnedClock() { SetTimeSourceForTesting(nullptr); }
  PinnedClock(const PinnedClock&) = delete;
  PinnedClock& operator=(const PinnedClock&) = delete;

  void Set(__time64_t now) { now_ = now; }

 private:
  static __time64_t Now() { return now_; }
  static inline __time64_t now_ = 0;
};

}  // namespace vpltest
