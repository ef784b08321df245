// The maintenance-window rules of the detector: work that the client holds
// back until a window keeps the machine on for that window, and a job that
// cannot start yet does not.
#include "jobs/SMSJobsDetector.h"

#include <optional>
#include <utility>
#include <vector>

#include "common/Logging.h"
#include "common/wmi/WbemConnection.h"
#include "jobs/ClientSdkReads.h"
#include "jobs/Clock.h"
#include "jobs/DateTime.h"

using NTarn::IsDebugFlagSet;
using NTarn::LogMessage;
namespace debug_flags = NTarn::debug_flags;

namespace {

constexpr __time64_t kSecondsPerMinute = 60;

void LogUnread(const char* what, HRESULT hr, const char* leftOut) {
  LogMessage("%T: CSMSJobsDetector::MaintenanceWindows: %s not read: %s; %s\n",
             what, ClientSdkFailureText(hr).c_str(), leftOut);
}

}  // namespace

std::optional<ServiceWindowSet> CSMSJobsDetector::ReadWindowSet(
    NTarn::CWbemConnection& connection) {
  constexpr char kLeftOut[] = "the maintenance window rules are left out";
  std::vector<ServiceWindow> occurrences;
  HRESULT hr = ReadServiceWindows(connection, occurrences);
  if (FAILED(hr)) {
    LogUnread("CCM_ServiceWindow", hr, kLeftOut);
    return std::nullopt;
  }
  bool updatesUseAllDeployments = false;
  hr = ReadUpdatesUseAllDeployments(connection, updatesUseAllDeployments);
  if (FAILED(hr)) {
    LogUnread("CCM_SoftwareUpdatesClientConfig", hr, kLeftOut);
    return std::nullopt;
  }
  if (m_findings) m_findings->windows = occurrences;
  return ServiceWindowSet(std::move(occurrences), updatesUseAllDeployments);
}

std::optional<WindowWait> CSMSJobsDetector::WorkWaitingForWindow() {
  if (!m_maintenanceWindows) return std::nullopt;
  NTarn::CWbemConnection connection;
  const std::optional<ServiceWindowSet> windows = ReadWindowSet(connection);
  // Without a window that holds updates or programs back nothing waits.
  if (!windows || !(windows->Governs(WindowWork::kSoftwareUpdate) ||
                    windows->Governs(WindowWork::kProgram))) {
    return std::nullopt;
  }

  const __time64_t now = CurrentTime();
  const __time64_t horizon = kSecondsPerMinute * m_pendingWindowMinutes;
  std::optional<WindowWait> found;
  const auto consider = [&](WindowWork work, const std::wstring& item) {
    const ServiceWindow* window = windows->OpenWithin(work, now, horizon);
    if (window && (!found || window->start < found->window.start))
      found = WindowWait{item, work, *window};
  };

  std::vector<SdkUpdate> updates;
  HRESULT hr = ReadSdkUpdates(connection, updates);
  if (FAILED(hr)) {
    LogUnread("CCM_SoftwareUpdate", hr,
              "updates waiting for a maintenance window are left out");
  }
  for (const SdkUpdate& update : updates) {
    if (update.evaluationState == kUpdateWaitsForServiceWindow)
      consider(WindowWork::kSoftwareUpdate, update.updateId);
  }
  std::vector<SdkWaitingApplication> applications;
  hr = ReadApplicationsWaitingForWindow(connection, applications);
  if (FAILED(hr)) {
    LogUnread("CCM_Application", hr,
              "applications waiting for a maintenance window are left out");
  }
  for (const SdkWaitingApplication& application : applications) {
    consider(WindowWork::kProgram,
             application.name.empty() ? application.id : application.name);
  }

  if (found && IsDebugFlagSet(debug_flags::kVerbose)) {
    LogMessage(
        "%T: %ls \"%ls\" waits for the %ls maintenance window opening at "
        "%ls\n",
        WindowWorkName(found->work), found->item.c_str(),
        ServiceWindowTypeName(found->window.type),
        FormatLocalTime(found->window.start, kLogTimePattern).c_str());
  }
  if (m_findings) m_findings->windowWait = found;
  return found;
}

void CSMSJobsDetector::MarkWindowWait(WindowWork work,
                                      TriggerEvaluation& trigger) const {
  if (!m_walkWindows || !trigger.next || !m_walkWindows->Governs(work) ||
      m_walkWindows->OpenAt(work, *trigger.next)) {
    return;
  }
  trigger.waitsForWindow = true;
  if (const ServiceWindow* window =
          m_walkWindows->NextOpening(work, *trigger.next)) {
    trigger.nextWindow = *window;
  }
  if (IsDebugFlagSet(debug_flags::kVerbose)) {
    LogMessage(
        "%T: SMSJobsDetector: %ls keeps to maintenance windows and none is "
        "open at its start %ls; it waits for the next\n",
        JobNameOf(trigger.jobMessage).c_str(),
        FormatLocalTime(*trigger.next, kLogTimePattern).c_str());
  }
}
