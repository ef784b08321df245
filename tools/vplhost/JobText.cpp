#include "tools/vplhost/JobText.h"

#include <windows.h>

#include "jobs/SMSJobsDetector.h"
#include "jobs/Schedule.h"
#include "tools/vplhost/ConsoleText.h"

namespace vplhost {

JobParts JobPartsOf(const TriggerEvaluation& trigger) {
  const CSMSJobsDetector::JobNameParts parts =
      CSMSJobsDetector::TriggerJobParts(trigger.jobMessage);
  return {Narrow(parts.advertisement), Narrow(parts.package),
          Narrow(parts.program),
          Narrow(CSMSJobsDetector::JobNameOf(trigger.jobMessage))};
}

bool HasStartAhead(const TriggerEvaluation& trigger, __time64_t now) {
  return trigger.next && *trigger.next > now &&
         *trigger.next != CSchedule::kNoNext;
}

long long MinutesAhead(__time64_t start, __time64_t now) {
  return (start - now + 59) / 60;
}

}  // namespace vplhost
