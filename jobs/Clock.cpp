#include "jobs/Clock.h"

#include <atomic>

namespace {

__time64_t SystemTime() { return _time64(nullptr); }

std::atomic<TimeSource> g_timeSource{&SystemTime};

}  // namespace

__time64_t CurrentTime() {
  return g_timeSource.load(std::memory_order_relaxed)();
}

void SetTimeSourceForTesting(TimeSource source) {
  g_timeSource.store(source ? source : &SystemTime, std::memory_order_relaxed);
}
