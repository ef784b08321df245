// When the plug-in would next allow a power-down, as far as the client's
// data tells: now when it does not object; for a due job, the first minute
// at which no scheduled job is due within the window, looked for over the
// next 24 hours with the per-message evaluation `vplhost jobs` uses; for a
// running deployment or installing update, when that ends, which the data
// cannot tell.
#pragma once

#include <ctime>
#include <optional>
#include <string>

#include "jobs/JobFindings.h"
#include "observer/PowerDownJudgement.h"

namespace vplhost {

struct NextAllowed {
  std::optional<__time64_t> time;  // none when the data cannot tell
  std::string reason;
};

// `judgement` and `findings` of the question asked at `now` (the pending
// question's own clock reading when it got that far). Asks the client's
// scheduled messages again (through whatever WMI this process sees) for a
// due job.
NextAllowed WhenNextAllowed(const PowerDownJudgement& judgement,
                            const JobFindings& findings, __time64_t now);

}  // namespace vplhost
