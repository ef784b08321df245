// The settings part of what `query` and `status` report: every setting the
// plug-in reads with its value and source, as vplhost's own lines and as
// "settings" in the JSON document, and each stored text the plug-in would
// turn away as too long, as a warning.
#pragma once

#include "tools/vplhost/EffectiveSettings.h"
#include "tools/vplhost/RunReport.h"

namespace vplhost {

void ReportSettings(const SettingSources& sources, RunReport& report);

}  // namespace vplhost
