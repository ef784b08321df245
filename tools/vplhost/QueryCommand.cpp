// `vplhost query`: asks the plug-in's observers as the host does before a
// shut-down, then walks the question again with the product's own code to
// give the reasons.
#include <optional>
#include <string>

#include "common/HResultException.h"
#include "tools/vplhost/Commands.h"
#include "tools/vplhost/ConsoleText.h"
#include "tools/vplhost/DecisionExplanation.h"
#include "jobs/Clock.h"
#include "tools/vplhost/ExitCode.h"
#include "tools/vplhost/IsoTime.h"
#include "tools/vplhost/NextAllowed.h"
#include "tools/vplhost/PluginRun.h"
#include "tools/vplhost/SettingsReport.h"

namespace vplhost {
namespace {

// The decision walked again with the product's own code, its reasons shown
// after the plug-in's answer. The product code logs nothing meanwhile.
void ExplainDecision(const SettingSources& sources, int result,
                     RunReport& report) {
  const RunReport::MutedLog muted;
  std::optional<DecisionExplanation> explanation;
  try {
    explanation = DecisionExplanation::Explain(sources);
  } catch (const NTarn::HResultException& error) {
    report.Error("vplhost: the decision cannot be explained: " +
                 HResultText(error.Error()));
    return;
  }
  for (const Reason& reason : explanation->Reasons())
    report.Line("vplhost: reason: %s\n", reason.text.c_str());
  nlohmann::ordered_json reasons = nlohmann::ordered_json::array();
  for (const Reason& reason : explanation->Reasons())
    reasons.push_back(reason.object);
  const PowerDownJudgement& judgement = explanation->Judgement();
  report.Set("ground", DecisionExplanation::GroundName(judgement.ground));
  report.Set("reasons", std::move(reasons));
  if (judgement.Objects() != (result == kExitObjection)) {
    report.Error(
        "vplhost: the explanation does not agree with the plug-in's decision "
        "(the client's data may have changed in between)");
  }
  const NextAllowed next =
      WhenNextAllowed(judgement, explanation->Findings(), CurrentTime());
  const std::string when =
      next.time ? IsoLocalTime(*next.time) : std::string("unknown");
  report.Line("vplhost: next allowed: %s: %s\n", when.c_str(),
              next.reason.c_str());
  report.Set("nextAllowed", next.time ? nlohmann::ordered_json(when)
                                      : nlohmann::ordered_json());
  report.Set("nextAllowedReason", next.reason);
}

int RunQuery(const Options& options) {
  return RunPluginCommand(options, "query", SettingsPlan{}, [](PluginRun& run) {
    const int result = run.host.AskObservers(0);
    if (result != kExitSuccess && result != kExitObjection) return result;
    ReportSettings(run.settings.Sources(), run.report);
    ExplainDecision(run.settings.Sources(), result, run.report);
    return result;
  });
}

}  // namespace

const Command kQueryCommand = {
    L"query",
    "vplhost query [--scenario FILE] [--dll PATH] [--monitor TEXT]\n"
    "              [--window MINUTES] [--maintenance-windows TEXT]\n"
    "              [--verbose] [--json]\n",
    "Asks the plug-in's observers whether a power-down may go ahead, as the\n"
    "host does before a shut-down, and gives the reasons step by step.\n"
    "Exit code 0 for no objection, 3 for an objection.\n",
    kScenarioOption | kDllOption | kMonitorOption | kWindowOption |
        kMaintenanceWindowsOption | kVerboseOption | kJsonOption,
    false,
    nullptr,
    RunQuery,
};

}  // namespace vplhost
