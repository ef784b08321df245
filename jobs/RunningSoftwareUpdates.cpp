// Whether the software-updates deployment agent is installing an update: a
// targeted update whose UpdateStatus the settings do not ignore.
#include "jobs/SMSJobsDetector.h"

#include <wbemcli.h>
#include <wrl/client.h>

#include <algorithm>
#include <optional>

#include "common/Logging.h"
#include "common/wmi/WbemConnection.h"
#include "common/wmi/WbemErrors.h"
#include "common/wmi/WbemProperty.h"
#include "common/wmi/WbemResults.h"

using NTarn::IsDebugFlagSet;
using NTarn::LogMessage;
namespace debug_flags = NTarn::debug_flags;

using Microsoft::WRL::ComPtr;

namespace {

constexpr wchar_t kDeploymentAgentNamespace[] =
    L"root\\CCM\\SoftwareUpdates\\DeploymentAgent";
constexpr wchar_t kTargetedUpdatesQuery[] =
    L"SELECT UpdateId, UpdateStatus FROM CCM_TargetedUpdateEx1 WHERE "
    L"(UpdateState <> 2)";

}  // namespace

bool CSMSJobsDetector::IsUpdateStateIgnored(LONG state) const {
  return std::find(m_ignoredUpdateStates.begin(), m_ignoredUpdateStates.end(),
                   state) != m_ignoredUpdateStates.end();
}

bool CSMSJobsDetector::SMSSoftwareUpdatesAreRunning() {
  const bool verbose = IsDebugFlagSet(debug_flags::kVerbose);
  NTarn::CWbemConnection connection;
  NTarn::CWbemResults updates;
  const HRESULT hr = connection.ExecQuery(kDeploymentAgentNamespace,
                                          kTargetedUpdatesQuery, updates);
  if (hr != S_OK) {
    LogMessage("%T: CSMSJobsDetector::SMSSoftwareUpdatesAreRunning: %s\n",
               NTarn::GetComErrorDescription().c_str());
    return false;
  }
  if (!updates) return false;

  // The whole result is read, so that every update is logged. A provider
  // that stalls ends the walk like the end of results.
  bool running = false;
  for (;;) {
    ComPtr<IWbemClassObject> update;
    if (FAILED(updates.Next(update)) || !update) break;

    // An UpdateStatus that is NULL or no integer is no state at all: the
    // update is skipped rather than judged by a guessed number.
    NTarn::WbemProperty updateId;
    NTarn::WbemProperty updateStatus;
    HRESULT read = updateId.Read(update.Get(), L"UpdateId");
    if (SUCCEEDED(read))
      read = updateStatus.Read(update.Get(), L"UpdateStatus");
    const std::optional<LONG> status =
        SUCCEEDED(read) ? updateStatus.Integer() : std::nullopt;
    if (!status) {
      if (verbose) {
        LogMessage(
            "%T: CSMSJobsDetector::SMSSoftwareUpdatesAreRunning: Error while "
            "retrieving property values.\n");
      }
      continue;
    }

    const bool ignored = IsUpdateStateIgnored(*status);
    if (!ignored) running = true;
    if (m_findings) {
      m_findings->updates.push_back({updateId.Text(), *status, ignored});
    }
    if (verbose) {
      LogMessage(ignored ? "%T: Ignoring running SCCM software update \"%s\" "
                           "(UpdateStatus=%d)\n"
                         : "%T: Found running SCCM software update \"%s\" "
                           "(UpdateStatus=%d)\n",
                 updateId.AnsiText().c_str(), static_cast<int>(*status));
    }
  }
  return running;
}
