// Answers the plug-in's questions about the ConfigMgr client from its WMI
// data. Every question opens its own WMI connection on the calling thread and
// keeps nothing between calls; a detector is used by one thread at a time.
#pragma once

#include <windows.h>

#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "jobs/ISMSJobsDetector.h"
#include "jobs/JobFindings.h"
#include "jobs/ServiceWindowSet.h"
#include "jobs/SoftwareDistributionPolicies.h"

struct IWbemClassObject;

namespace NTarn {
class CWbemConnection;
}

class CSMSJobsDetector : public ISMSJobsDetector {
 public:
  // Lists stay empty until Init.
  explicit CSMSJobsDetector(const wchar_t* refreshScope);
  // Init with the window and texts at once. Init may write into the texts.
  CSMSJobsDetector(const wchar_t* refreshScope, DWORD windowMinutes,
                   wchar_t* jobStates, wchar_t* updateStates);

  HRESULT Init(DWORD windowMinutes, wchar_t* jobStates,
               wchar_t* updateStates) override;
  bool SMSJobsAreRunning() override;
  bool SMSPendingJobsFound() override;
  bool SMSJobsRunningOrPending() override;
  bool FoundRecentPolicyRefreshEvent(int minutes) override;
  std::optional<WindowWait> WorkWaitingForWindow() override;

  bool SMSDeploymentsAreRunning();
  bool SMSSoftwareUpdatesAreRunning();
  bool IsUpdateStateIgnored(LONG state) const;
  // Whether the settings ignore a ClientSDK EvaluationState, by its name.
  bool IsSdkUpdateStateIgnored(LONG evaluationState) const;
  // Whether the advertisement of `jobId` (its text before the first '-') is
  // disabled or expired, asked through the caller's connection with a query
  // of its own.
  bool SMSJobDisabledOrExpired(const wchar_t* jobId,
                               const wchar_t* wmiNamespace,
                               NTarn::CWbemConnection& connection);
  // The advertisement a job identifier names: its text before the first
  // '-', empty without one.
  static std::wstring AdvertisementIdOf(const wchar_t* jobId);
  // The same question, saying which of the two holds, answered from the
  // question's `policies`.
  JobStanding SMSJobStanding(const wchar_t* jobId,
                             SoftwareDistributionPolicies& policies);

  // How the pending question reads the software-distribution policies: once
  // (the default), or per advertisement, as it did before; only measurements
  // compare the two. The answers and lines are the same.
  void SetPolicyReading(SoftwareDistributionPolicies::Reading reading) {
    m_policyReading = reading;
  }

  // Sees each schedule element the pending question evaluates; true stops
  // the walk there.
  using TriggerVisitor = std::function<bool(const TriggerEvaluation&)>;
  // Whether a start `next` is due within `windowSeconds` after `now`: after
  // now and no later than the window's end.
  static bool IsDueWithin(__time64_t next, __time64_t now,
                          __time64_t windowSeconds);
  // The pending question's walk over the client's scheduled messages, in the
  // order WMI returns them, each evaluated against `now` until `visit` stops
  // it. Every message looked at goes to `seen` when given. Returns the
  // query's result: S_OK when the messages could be asked for; a failure's
  // text goes to `failureText` when given.
  HRESULT WalkScheduledMessages(__time64_t now, const TriggerVisitor& visit,
                                std::vector<ScheduledMessageEvaluation>* seen,
                                std::string* failureText = nullptr);
  // One scheduled message: its ID, whether its advertisement is left out
  // (looked up in `policies`), else its schedule elements one by one.
  // `*stopped` says whether `visit` stopped the walk.
  ScheduledMessageEvaluation EvaluateScheduledMessage(
      IWbemClassObject* message, SoftwareDistributionPolicies& policies,
      __time64_t now, const TriggerVisitor& visit, bool* stopped);
  // The schedule tokens of a Triggers element.
  static std::wstring ScheduleTextOf(const wchar_t* trigger);
  // Whether a Triggers element is a schedule ("SMSSchedule...", in any
  // letter case), the only kind the pending question evaluates.
  static bool IsScheduleTrigger(const std::wstring& trigger);

  // Next and last occurrence of one Triggers element ("SMSSchedule=tokens");
  // outputs the schedule does not set keep their values.
  static void GetTriggerOccurrences(const wchar_t* trigger, __time64_t& next,
                                    __time64_t& last);
  // "[advert/package/program]" from a TriggerMessage, "????" for a part not
  // found.
  static std::wstring FormatTriggerJobName(const std::wstring& message);
  // The three parts of that name.
  struct JobNameParts {
    std::wstring advertisement;
    std::wstring package;
    std::wstring program;
  };
  static JobNameParts TriggerJobParts(const std::wstring& message);
  // The job's name in the log: that of its message, "Unknown
  // Advert/Package/Program" without one.
  static std::wstring JobNameOf(const std::wstring& message);

  // The machine's window occurrences and the update setting that decides
  // which of them hold updates back, read through `connection`; none, with
  // a line saying so, when either cannot be read.
  std::optional<ServiceWindowSet> ReadWindowSet(
      NTarn::CWbemConnection& connection);
  // Marks `trigger` as waiting for a window when `work` keeps to the windows
  // the walk read and none that applies is open at its next start.
  void MarkWindowWait(WindowWork work, TriggerEvaluation& trigger) const;

 private:
  // The windows of the latest walk, with the rules on and readable.
  std::optional<ServiceWindowSet> m_walkWindows;
  SoftwareDistributionPolicies::Reading m_policyReading =
      SoftwareDistributionPolicies::Reading::kOncePerQuestion;
};
