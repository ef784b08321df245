// What a power-down question costs on a real client, where each WMI call
// crosses into the WMI service and the provider's host: the simulated client
// charges a fixed time per call, and the question is asked with the
// software-distribution policies read once and, as before, once per
// advertisement.
#pragma once

namespace vplbench {

// Prints, per client size, the calls and the median time of one question
// read either way, with `callCostMs` per call. `runs` questions are timed per
// size and way (0: three). False when a question did not answer as the
// scenario intends or the two ways answered differently.
bool RunModelledCostBench(int runs, unsigned callCostMs);

}  // namespace vplbench
