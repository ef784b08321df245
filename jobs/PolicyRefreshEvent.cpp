#include "jobs/SMSJobsDetector.h"

// Placeholder answer until the policy-refresh question lands.
bool CSMSJobsDetector::FoundRecentPolicyRefreshEvent(int) { return false; }
