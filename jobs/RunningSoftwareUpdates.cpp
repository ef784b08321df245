// Whether the software-updates deployment agent is installing an update: a
// targeted update whose UpdateStatus the settings do not ignore. With the
// maintenance-window rules on, an update the ClientSDK lists is judged by its
// documented EvaluationState instead.
#include "jobs/SMSJobsDetector.h"

#include <wbemcli.h>
#include <wrl/client.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "common/Logging.h"
#include "common/wmi/WbemConnection.h"
#include "common/wmi/WbemProperty.h"
#include "common/wmi/WbemQuestion.h"
#include "common/wmi/WbemResults.h"
#include "jobs/ClientSdkReads.h"
#include "jobs/UpdateStateNames.h"

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

const SdkUpdate* FindSdkUpdate(const std::vector<SdkUpdate>& updates,
                               const std::wstring& updateId) {
  for (const SdkUpdate& update : updates) {
    if (_wcsicmp(update.updateId.c_str(), updateId.c_str()) == 0)
      return &update;
  }
  return nullptr;
}

}  // namespace

// The settings name states by the deployment agent's names; a ClientSDK state
// of the same name ("Installing", "Verifying" ...) is ignored likewise.
bool CSMSJobsDetector::IsSdkUpdateStateIgnored(LONG evaluationState) const {
  const wchar_t* name = SdkUpdateStateName(evaluationState);
  if (!name) return false;
  for (const LONG state : m_ignoredUpdateStates) {
    const wchar_t* ignored = UpdateStateName(state);
    if (ignored && _wcsicmp(ignored, name) == 0) return true;
  }
  return false;
}

bool CSMSJobsDetector::IsUpdateStateIgnored(LONG state) const {
  return std::find(m_ignoredUpdateStates.begin(), m_ignoredUpdateStates.end(),
                   state) != m_ignoredUpdateStates.end();
}

bool CSMSJobsDetector::SMSSoftwareUpdatesAreRunning() {
  const NTarn::WbemWalk walk("CSMSJobsDetector::SMSSoftwareUpdatesAreRunning");
  if (NTarn::WbemQuestionIsOver()) return false;
  const bool verbose = IsDebugFlagSet(debug_flags::kVerbose);
  NTarn::CWbemConnection connection;
  std::vector<SdkUpdate> sdkUpdates;
  bool sdkRead = false;
  if (m_maintenanceWindows) {
    const HRESULT sdk = ReadSdkUpdates(connection, sdkUpdates);
    sdkRead = SUCCEEDED(sdk);
    if (!sdkRead && !NTarn::WbemQuestionIsOver()) {
      LogMessage(
          "%T: CSMSJobsDetector::SMSSoftwareUpdatesAreRunning: "
          "CCM_SoftwareUpdate not read: %s; updates are judged by their "
          "UpdateStatus\n",
          ClientSdkFailureText(sdk).c_str());
    }
  }
  NTarn::CWbemResults updates;
  const HRESULT hr = connection.ExecQuery(kDeploymentAgentNamespace,
                                          kTargetedUpdatesQuery, updates);
  if (hr != S_OK) {
    // A question out of time says so in its own line.
    if (!NTarn::WbemQuestionIsOver()) {
      LogMessage("%T: CSMSJobsDetector::SMSSoftwareUpdatesAreRunning: %s\n",
                 updates.FailureText().c_str());
    }
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

    const SdkUpdate* sdk =
        sdkRead ? FindSdkUpdate(sdkUpdates, updateId.Text()) : nullptr;
    const bool ignored = sdk ? !IsSdkUpdateBusy(sdk->evaluationState) ||
                                   IsSdkUpdateStateIgnored(sdk->evaluationState)
                             : IsUpdateStateIgnored(*status);
    if (!ignored) running = true;
    if (m_findings) {
      m_findings->updates.push_back(
          {updateId.Text(), *status, ignored, std::nullopt});
      if (sdk)
        m_findings->updates.back().evaluationState = sdk->evaluationState;
    }
    if (sdk && verbose) {
      LogMessage(ignored ? "%T: Ignoring running SCCM software update \"%s\" "
                           "(EvaluationState=%d)\n"
                         : "%T: Found running SCCM software update \"%s\" "
                           "(EvaluationState=%d)\n",
                 updateId.AnsiText().c_str(),
                 static_cast<int>(sdk->evaluationState));
    } else if (verbose) {
      LogMessage(ignored ? "%T: Ignoring running SCCM software update \"%s\" "
                           "(UpdateStatus=%d)\n"
                         : "%T: Found running SCCM software update \"%s\" "
                           "(UpdateStatus=%d)\n",
                 updateId.AnsiText().c_str(), static_cast<int>(*status));
    }
  }
  // Out of time part way: the answer of a failed query.
  return running && !NTarn::WbemQuestionIsOver();
}
