#include "tools/vplhost/SettingsReport.h"

#include <string>

#include "tools/vplhost/TextSettingCheck.h"

namespace vplhost {

void ReportSettings(const SettingSources& sources, RunReport& report) {
  for (const LongTextSetting& setting : LongTextSettings()) {
    report.Warning(LongTextWarning(setting), {{"kind", "textTooLong"},
                                              {"key", setting.key},
                                              {"value", setting.name},
                                              {"length", setting.length},
                                              {"limit", setting.limit}});
  }
  EffectiveSettings settings;
  {
    // The product's readers trace what they read as the plug-in's would.
    const RunReport::MutedLog muted;
    settings = EffectiveSettings::Read(sources);
  }
  for (const std::string& line : settings.Lines())
    report.Line("vplhost: setting %s\n", line.c_str());
  report.Set("settings", settings.Json());
}

}  // namespace vplhost
