// Simulated clients for the question benchmark, generated in code: a busy
// client's scheduled messages with realistic triggers, and an idle rest.
#pragma once

#include <time.h>

#include <string>

namespace vplbench {

// A scenario whose client holds `messages` scheduled messages (every tenth
// one of the client's own, "{"-prefixed), software-distribution policies for
// their advertisements, a few finished execution requests and installed
// updates. Schedules are placed around `now` so that the answer is no
// objection after a walk over every message: the messages due within half an
// hour belong to expired or disabled advertisements, or are the client's own.
// With `dueLeftOut` false those advertisements are live, and the answer is an
// objection: a check that the schedules are what they claim.
std::string MakeBenchScenario(int messages, __time64_t now,
                              bool dueLeftOut = true);

}  // namespace vplbench
