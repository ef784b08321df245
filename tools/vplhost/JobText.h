// How vplhost names the jobs the detector evaluated, shared by the decision's
// explanation and the jobs listing.
#pragma once

#include <ctime>
#include <string>

#include "jobs/JobFindings.h"

namespace vplhost {

// The advertisement, package and program a trigger message names ("????"
// for a part it lacks), and the plug-in's name for the job.
struct JobParts {
  std::string advertisement;
  std::string package;
  std::string program;
  std::string name;
};
JobParts JobPartsOf(const TriggerEvaluation& trigger);

// Whether the element has a start after `now`.
bool HasStartAhead(const TriggerEvaluation& trigger, __time64_t now);
// Whole minutes from `now` to `start`, a part minute counting as one.
long long MinutesAhead(__time64_t start, __time64_t now);

}  // namespace vplhost
