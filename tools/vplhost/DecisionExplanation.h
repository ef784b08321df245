// Why the plug-in decides as it does: the power-down question walked again
// with the product's own code (linked in), recording what each step saw, as
// reason lines for people and reason objects for scripts.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "jobs/JobFindings.h"
#include "observer/PowerDownJudgement.h"
#include "tools/vplhost/EffectiveSettings.h"

namespace vplhost {

struct Reason {
  std::string text;
  nlohmann::ordered_json object;
};

class DecisionExplanation {
 public:
  // Loads the observer's settings as the host does (flags 0) and asks the
  // question once, in this process, against whatever WMI and registry it
  // sees. `sources` names where each setting came from, as seen before the
  // plug-in read (and wrote back) anything. May raise what detection raises.
  static DecisionExplanation Explain(const SettingSources& sources);

  const PowerDownJudgement& Judgement() const { return m_judgement; }
  const std::vector<Reason>& Reasons() const { return m_reasons; }
  // What the detector saw on the way.
  const JobFindings& Findings() const { return m_findings; }
  // "portableOnBattery", "monitoringOff", ..., as the JSON names the ground.
  static const char* GroundName(PowerDownGround ground);

 private:
  PowerDownJudgement m_judgement;
  std::vector<Reason> m_reasons;
  JobFindings m_findings;
};

}  // namespace vplhost
