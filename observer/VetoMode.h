// Report-only mode for piloting the plug-in on a collection: "VetoMode"
// (REG_SZ, policy overlay) "REPORT", in any letter case, has the observer
// decide as always but answer the host with no objection; "ENFORCE", the
// default, and any other text answer as decided.
#pragma once

// Read at each objection, so a policy that ends the pilot applies to the
// next question.
bool VetoModeIsReportOnly();
