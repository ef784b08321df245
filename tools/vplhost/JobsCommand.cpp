// `vplhost jobs`: the jobs ahead, read by the product's own pending-jobs
// code in this process; no plug-in is loaded.
#include <optional>
#include <string>

#include "common/HResultException.h"
#include "jobs/Clock.h"
#include "observer/ObserverSettings.h"
#include "tests/simclient/SimulatedClient.h"
#include "tools/vplhost/ComApartment.h"
#include "tools/vplhost/Commands.h"
#include "tools/vplhost/ConsoleText.h"
#include "tools/vplhost/ExitCode.h"
#include "tools/vplhost/JobsReport.h"
#include "tools/vplhost/RunSettings.h"

namespace vplhost {
namespace {

int ListJobs(const Options& options, RunReport& report,
             nlohmann::ordered_json* listing) {
  RunSettings settings;
  const int prepared = settings.Prepare(options, SettingsPlan{}, report);
  if (prepared != kExitSuccess) return prepared;
  const ComApartment apartment;
  if (!apartment.Entered()) return kExitFailure;
  int result = kExitSuccess;
  try {
    std::optional<vpltest::SimulatedClient> client;
    if (settings.Scenario()) client.emplace(*settings.Scenario());
    const RunReport::MutedLog muted;
    ObserverSettings observer;
    observer.Load(0);
    JobsQuestion question;
    question.now = options.at.value_or(CurrentTime());
    question.windowMinutes = observer.PendingWindowMinutes();
    question.windowSource = settings.Sources().at("PendingSMSJobWindowMins");
    question.hours = options.hours.value_or(24);
    question.maintenanceWindows = observer.MaintenanceWindowsOn();
    *listing = vplhost::ListJobs(question);
    if (listing->contains("error")) {
      report.Error("vplhost: " + (*listing)["error"].get<std::string>());
      result = kExitFailure;
    }
  } catch (const vpltest::ScenarioError& error) {
    report.Error(std::string("vplhost: scenario: ") + error.what());
    result = kExitScenario;
  } catch (const NTarn::HResultException& error) {
    report.Error("vplhost: the jobs cannot be listed: " +
                 HResultText(error.Error()));
    result = kExitFailure;
  }
  return result;
}

int RunJobs(const Options& options) {
  RunReport report(options.json, "jobs");
  report.SetScenario(Narrow(options.scenario));
  nlohmann::ordered_json listing;
  const int result = ListJobs(options, report, &listing);
  if (report.IsJson()) {
    for (const auto& item : listing.items())
      report.Set(item.key(), item.value());
    fputs(report.Json(result).c_str(), stdout);
  } else if (!listing.is_null()) {
    fputs(JobsText(listing).c_str(), stdout);
  }
  return result;
}

}  // namespace

const Command kJobsCommand = {
    L"jobs",
    "vplhost jobs [--scenario FILE] [--window MINUTES] [--hours N]\n"
    "             [--at \"YYYY-MM-DD HH:MM\"] [--json]\n",
    "Lists the client's scheduled jobs, each evaluated by the plug-in's own\n"
    "pending-jobs code, with where its next start falls: inside the window,\n"
    "within the horizon, or beyond it; around now, or around --at.\n",
    kScenarioOption | kWindowOption | kHoursOption | kAtOption | kJsonOption,
    false,
    nullptr,
    RunJobs,
};

}  // namespace vplhost
