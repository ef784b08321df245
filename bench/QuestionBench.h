// The cost of one power-down question through the real plug-in, against
// simulated clients of growing size, and what many questions leave behind.
#pragma once

namespace vplbench {

class BenchHost;

// Prints, per client size, the median time of one question and its share
// per scheduled message, with the WMI connections and queries it made.
// `runs` questions are timed per size (0: a number fitting the size). False
// when a question failed or did not answer as the scenario intends.
bool RunQuestionBench(BenchHost& host, int runs);

// Prints private bytes and handle count before and after `questions`
// questions, after a warm-up. False as above.
bool RunMemoryBench(BenchHost& host, int questions);

}  // namespace vplbench
