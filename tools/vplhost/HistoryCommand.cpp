// `vplhost history`: the machine's record of the plug-in's decisions, read
// as it stands; nothing is loaded and nothing written.
#include <cstdio>
#include <optional>
#include <string>

#include "common/DecisionEntry.h"
#include "common/DecisionStore.h"
#include "common/ScopedHandle.h"
#include "tools/vplhost/Commands.h"
#include "tools/vplhost/ConsoleText.h"
#include "tools/vplhost/ExitCode.h"
#include "tools/vplhost/HistoryReport.h"
#include "tools/vplhost/RunReport.h"

namespace vplhost {
namespace {

int RunHistory(const Options& options) {
  RunReport report(options.json, "history");
  NTarn::ScopedRegKey decisions;
  const LSTATUS status =
      ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, NTarn::decision_store::kDecisionsKey,
                      0, KEY_READ, decisions.Receive());
  // No record yet is an empty history, not a failure.
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
    report.Error("vplhost: the decision record cannot be read: " +
                 HResultText(HRESULT_FROM_WIN32(status)));
    if (report.IsJson()) fputs(report.Json(kExitFailure).c_str(), stdout);
    return kExitFailure;
  }
  std::vector<NTarn::DecisionEntry> entries;
  if (decisions) entries = NTarn::ReadDecisionEntries(decisions.Get());
  std::optional<std::string> since;
  if (options.since) since = NTarn::IsoUtcTime(*options.since);
  const nlohmann::ordered_json history = DescribeHistory(entries, since);
  if (report.IsJson()) {
    for (const auto& item : history.items())
      report.Set(item.key(), item.value());
    fputs(report.Json(kExitSuccess).c_str(), stdout);
  } else {
    fputs(HistoryText(history).c_str(), stdout);
  }
  return kExitSuccess;
}

}  // namespace

const Command kHistoryCommand = {
    L"history",
    "vplhost history [--json] [--since \"YYYY-MM-DD HH:MM\"]\n",
    "Shows this machine's record of the plug-in's decisions, newest first,\n"
    "with how often each answer and ground came up and what held the\n"
    "machine up; --since (local time) leaves out entries whose last decision\n"
    "is earlier. Reads HKLM\\Software\\Tarn\\Vesperline\\Decisions only.\n",
    kJsonOption | kSinceOption,
    false,
    nullptr,
    RunHistory,
};

}  // namespace vplhost
