// Every setting the plug-in reads, under its registry value name (the name
// the Group Policy template uses), with the value the plug-in goes by and
// where that value comes from.
#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace vplhost {

// Where a setting's value comes from, by value name: "policy", "local" (this
// machine's settings key), "scenario" (the replayed scenario's registry),
// "default" (not set: the plug-in's own default), an option ("--monitor",
// "--window", "--verbose"), or "vplhost" (a value vplhost sets for the run).
using SettingSources = std::map<std::string, std::string>;

struct EffectiveSetting {
  std::string name;
  nlohmann::ordered_json value;
  std::string source;
};

class EffectiveSettings {
 public:
  // The value names, in the order the plug-in's settings are listed.
  static const std::vector<const char*>& Names();
  // Whether the plug-in reads `name` through the policy overlay.
  static bool HasPolicy(const char* name);

  // Reads every setting with the plug-in's own readers from the registry as
  // this process sees it; `sources` as found before the plug-in read (and
  // wrote back) anything.
  static EffectiveSettings Read(const SettingSources& sources);

  const std::vector<EffectiveSetting>& Values() const { return m_values; }
  // {"MonitorJobs": {"value": "ON", "source": "policy"}, ...}
  nlohmann::ordered_json Json() const;
  // One line each: "MonitorJobs \"ON\" (policy)".
  std::vector<std::string> Lines() const;

 private:
  std::vector<EffectiveSetting> m_values;
};

// A source in words for people, as the reasons and the lines name it.
std::string SourceText(const std::string& name, const std::string& source);

}  // namespace vplhost
