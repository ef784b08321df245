// The one place schedule and date code reads "now", so that tests can pin it.
#pragma once

#include <ctime>

using TimeSource = __time64_t (*)();

// Seconds since 1970-01-01 00:00:00 UTC from the installed source; the system
// clock (_time64) unless a test installed another.
__time64_t CurrentTime();

// Installs `source` for every later CurrentTime call; null restores the
// system clock. Not synchronised: set it while no other thread reads the time.
void SetTimeSourceForTesting(TimeSource source);
