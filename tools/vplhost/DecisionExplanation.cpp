#include "tools/vplhost/DecisionExplanation.h"

#include <windows.h>

#include <cstdio>
#include <memory>
#include <optional>

#include "jobs/ClientSdkReads.h"
#include "jobs/JobFindings.h"
#include "jobs/SMSJobsDetector.h"
#include "jobs/UpdateStateNames.h"
#include "tools/vplhost/ConsoleText.h"
#include "tools/vplhost/IsoTime.h"
#include "tools/vplhost/JobText.h"

namespace vplhost {
namespace {

using nlohmann::ordered_json;

std::string SourceOf(const SettingSources& sources, const char* name) {
  const auto found = sources.find(name);
  return found == sources.end() ? std::string("default") : found->second;
}

class ReasonList {
 public:
  explicit ReasonList(std::vector<Reason>& reasons) : m_reasons(reasons) {}
  void Add(const std::string& text, ordered_json object) {
    object["text"] = text;
    m_reasons.push_back({text, std::move(object)});
  }

 private:
  std::vector<Reason>& m_reasons;
};

void ExplainPower(const PowerDownJudgement& judgement, ReasonList& reasons) {
  const ordered_json object = {{"kind", "power"},
                               {"portable", judgement.portable},
                               {"onAcWithBattery", judgement.onAcWithBattery}};
  if (judgement.ground == PowerDownGround::kPortableOnBattery) {
    reasons.Add(
        "a portable machine on battery: never held up by jobs, no objection",
        object);
    return;
  }
  reasons.Add(std::string("not a portable machine on battery (portable "
                          "chassis: ") +
                  (judgement.portable ? "yes" : "no") +
                  ", on AC with a battery: " +
                  (judgement.onAcWithBattery ? "yes" : "no") + ")",
              object);
}

void ExplainMonitoring(const ObserverSettings& settings,
                       const std::string& source, ReasonList& reasons) {
  const bool on = settings.MonitoringOn();
  reasons.Add(
      std::string(on ? "monitoring on" : "monitoring off, no objection") +
          ": MonitorJobs \"" + settings.MonitorJobs() + "\" (" +
          SourceText("MonitorJobs", source) + ")",
      {{"kind", "monitoring"},
       {"value", settings.MonitorJobs()},
       {"source", source},
       {"on", on}});
}

void ExplainRunning(const JobFindings& findings, ReasonList& reasons) {
  for (const ExecutionRequestFinding& request : findings.requests) {
    const std::string what = "ContentID " + Narrow(request.contentId) +
                             ", AdvertID " + Narrow(request.advertId) +
                             ", State " + Narrow(request.state);
    const char* standing =
        request.ignored ? "deployment left aside, its state is ignored: "
        : request.stale ? "deployment left aside, received longer ago than "
                          "StaleJobHours allows: "
                        : "deployment running: ";
    reasons.Add(standing + what,
                {{"kind", "deployment"},
                 {"contentId", Narrow(request.contentId)},
                 {"advertId", Narrow(request.advertId)},
                 {"state", Narrow(request.state)},
                 {"runningState", Narrow(request.runningState)},
                 {"ignored", request.ignored},
                 {"stale", request.stale}});
  }
  for (const UpdateFinding& update : findings.updates) {
    const wchar_t* name = UpdateStateName(update.status);
    std::string status = (name ? Narrow(name) : std::string("unknown")) + " (" +
                         std::to_string(update.status) + ")";
    if (update.evaluationState) {
      const wchar_t* sdkName = SdkUpdateStateName(*update.evaluationState);
      status += ", judged by its ClientSDK EvaluationState " +
                (sdkName ? Narrow(sdkName) : std::string("unknown")) + " (" +
                std::to_string(*update.evaluationState) + ")";
    }
    const std::string what =
        "UpdateId " + Narrow(update.updateId) + ", status " + status;
    reasons.Add(
        update.ignored ? "software update left aside, its status is "
                         "ignored: " +
                             what
                       : "software update running: " + what,
        {{"kind", "update"},
         {"updateId", Narrow(update.updateId)},
         {"status", update.status},
         {"statusName", name ? ordered_json(Narrow(name)) : ordered_json()},
         {"evaluationState", update.evaluationState
                                 ? ordered_json(*update.evaluationState)
                                 : ordered_json()},
         {"ignored", update.ignored}});
  }
}

void ExplainLeftOut(const ScheduledMessageEvaluation& message,
                    ReasonList& reasons) {
  const JobStanding& standing = message.standing;
  const std::string why = standing.expired && standing.disabled
                              ? "expired and disabled"
                          : standing.expired ? "expired"
                                             : "disabled";
  reasons.Add(
      "job " + Narrow(message.id) + " left out: its advertisement is " + why,
      {{"kind", "leftOut"},
       {"messageId", Narrow(message.id)},
       {"expired", standing.expired},
       {"disabled", standing.disabled}});
}

void ExplainPending(const PowerDownJudgement& judgement,
                    const JobFindings& findings, const std::string& source,
                    ReasonList& reasons) {
  const DWORD window = judgement.windowMinutes;
  const std::string sourceText = SourceText("PendingSMSJobWindowMins", source);
  const std::string windowText =
      "the " + std::to_string(window) + "-minute window (" + sourceText + ")";
  if (window == 0) {
    reasons.Add("window 0 minutes (" + sourceText +
                    "): only running jobs hold a power-down up",
                {{"kind", "window"}, {"minutes", 0}, {"source", source}});
    return;
  }
  for (const ScheduledMessageEvaluation& message : findings.messages) {
    if (message.kind == ScheduledMessageEvaluation::Kind::kLeftOut)
      ExplainLeftOut(message, reasons);
  }
  if (judgement.ground == PowerDownGround::kJobsPending &&
      !findings.messages.empty() &&
      !findings.messages.back().triggers.empty()) {
    // The walk stops at the job that is due: the last element it evaluated.
    const ScheduledMessageEvaluation& message = findings.messages.back();
    const TriggerEvaluation& due = message.triggers.back();
    const JobParts parts = JobPartsOf(due);
    const __time64_t start = due.next.value_or(0);
    const long long minutes = MinutesAhead(start, findings.now);
    // A message without a TriggerMessage is still known by its ID.
    const std::string name =
        due.jobMessage.empty()
            ? "with scheduled-message ID " + Narrow(message.id)
            : parts.name;
    reasons.Add("job " + name + " starts " + IsoLocalTime(start) + ", in " +
                    std::to_string(minutes) + " minutes, within " + windowText,
                {{"kind", "dueJob"},
                 {"messageId", Narrow(message.id)},
                 {"advertisement", parts.advertisement},
                 {"package", parts.package},
                 {"program", parts.program},
                 {"start", IsoLocalTime(start)},
                 {"minutesFromNow", minutes},
                 {"windowMinutes", window},
                 {"source", source}});
    return;
  }
  // The earliest start ahead, to say how far off the next job is.
  std::optional<__time64_t> earliest;
  for (const ScheduledMessageEvaluation& message : findings.messages) {
    for (const TriggerEvaluation& trigger : message.triggers) {
      if (HasStartAhead(trigger, findings.now) &&
          (!earliest || *trigger.next < *earliest))
        earliest = *trigger.next;
    }
  }
  ordered_json object = {
      {"kind", "noDueJob"},
      {"windowMinutes", window},
      {"source", source},
      {"next",
       earliest ? ordered_json(IsoLocalTime(*earliest)) : ordered_json()}};
  reasons.Add("no job starts within " + windowText +
                  (earliest ? "; the next starts " + IsoLocalTime(*earliest)
                            : std::string("; none has a start ahead")),
              std::move(object));
}

ordered_json WindowObject(const ServiceWindow& window) {
  return {{"id", Narrow(window.id)},
          {"type", window.type},
          {"typeName", Narrow(ServiceWindowTypeName(window.type))},
          {"start", IsoLocalTime(window.start)},
          {"durationSeconds", window.durationSeconds},
          {"placeholder", window.IsPlaceholder()}};
}

std::string WindowText(const ServiceWindow& window) {
  if (window.IsPlaceholder())
    return "the client's placeholder " + Narrow(window.id) +
           " (Duration 0): no window";
  return Narrow(ServiceWindowTypeName(window.type)) + " window (type " +
         std::to_string(window.type) + ") " + Narrow(window.id) + " from " +
         IsoLocalTime(window.start) + " for " +
         std::to_string(window.durationSeconds / 60) + " minutes";
}

// The maintenance-window rules: the switch, the windows read, and the work
// found waiting for one.
void ExplainWindows(const PowerDownJudgement& judgement,
                    const ObserverSettings& settings,
                    const JobFindings& findings, const std::string& source,
                    ReasonList& reasons) {
  // Off, no rule applied: the explanation is the one without them.
  if (!settings.MaintenanceWindowsOn()) return;
  reasons.Add("maintenance windows followed: MaintenanceWindows \"" +
                  std::string(settings.MaintenanceWindows()) + "\" (" +
                  SourceText("MaintenanceWindows", source) + ")",
              {{"kind", "maintenanceWindows"},
               {"value", settings.MaintenanceWindows()},
               {"source", source}});
  for (const ServiceWindow& window : findings.windows) {
    ordered_json object = WindowObject(window);
    object["kind"] = "window";
    reasons.Add(WindowText(window), std::move(object));
  }
  const __time64_t windowSeconds = 60 * judgement.windowMinutes;
  for (const ScheduledMessageEvaluation& message : findings.messages) {
    for (const TriggerEvaluation& trigger : message.triggers) {
      if (!trigger.waitsForWindow ||
          !CSMSJobsDetector::IsDueWithin(*trigger.next, findings.now,
                                         windowSeconds))
        continue;
      const JobParts parts = JobPartsOf(trigger);
      const std::string opens =
          trigger.nextWindow ? "the " + WindowText(*trigger.nextWindow)
                             : std::string("a window the client lists none of");
      reasons.Add(
          "job " + parts.name + " starts " + IsoLocalTime(*trigger.next) +
              " but keeps to maintenance windows and none is open "
              "then: left out, it waits for " +
              opens,
          {{"kind", "waitsForWindowJob"},
           {"messageId", Narrow(message.id)},
           {"start", IsoLocalTime(*trigger.next)},
           {"window", trigger.nextWindow ? WindowObject(*trigger.nextWindow)
                                         : ordered_json()}});
    }
  }
  if (judgement.ground != PowerDownGround::kWorkWaitsForWindow) return;
  const WindowWait& wait = *judgement.windowWait;
  reasons.Add(Narrow(WindowWorkName(wait.work)) + " \"" + Narrow(wait.item) +
                  "\" waits for the " + WindowText(wait.window) +
                  ": held on for it",
              {{"kind", "waitsForWindow"},
               {"work", Narrow(WindowWorkName(wait.work))},
               {"item", Narrow(wait.item)},
               {"window", WindowObject(wait.window)}});
}

}  // namespace

const char* DecisionExplanation::GroundName(PowerDownGround ground) {
  return PowerDownGroundName(ground);
}

DecisionExplanation DecisionExplanation::Explain(
    const SettingSources& sources) {
  DecisionExplanation explanation;
  ObserverSettings settings;
  settings.Load(0);
  JobFindings& findings = explanation.m_findings;
  explanation.m_judgement = JudgePowerDown(
      settings,
      [&findings](DWORD window, wchar_t* jobStates, wchar_t* updateStates) {
        auto detector = std::make_unique<CSMSJobsDetector>(
            L"", window, jobStates, updateStates);
        detector->RecordFindings(&findings);
        return std::unique_ptr<ISMSJobsDetector>(std::move(detector));
      });
  const PowerDownJudgement& judgement = explanation.m_judgement;

  const std::string monitorSource = SourceOf(sources, "MonitorJobs");
  const std::string windowSource = SourceOf(sources, "PendingSMSJobWindowMins");

  ReasonList reasons(explanation.m_reasons);
  ExplainPower(judgement, reasons);
  if (judgement.ground == PowerDownGround::kPortableOnBattery)
    return explanation;
  ExplainMonitoring(settings, monitorSource, reasons);
  if (judgement.ground == PowerDownGround::kMonitoringOff) return explanation;
  const bool present = judgement.ground != PowerDownGround::kNoClient;
  reasons.Add(present ? "the ConfigMgr client is present"
                      : "no ConfigMgr client (no root\\ccm or no CCM_Client "
                        "object): no client, no objection",
              {{"kind", "client"}, {"present", present}});
  if (!present || judgement.ground == PowerDownGround::kNoDetector)
    return explanation;
  ExplainRunning(findings, reasons);
  if (judgement.ground == PowerDownGround::kJobsRunning) return explanation;
  ExplainPending(judgement, findings, windowSource, reasons);
  if (judgement.ground == PowerDownGround::kJobsPending) return explanation;
  ExplainWindows(judgement, settings, findings,
                 SourceOf(sources, "MaintenanceWindows"), reasons);
  if (judgement.ground == PowerDownGround::kNothingDue) {
    const std::string window = std::to_string(judgement.windowMinutes);
    reasons.Add(
        "no deployment running, no update installing, no job due "
        "within " +
            window + " minutes: no objection",
        {{"kind", "idle"}, {"windowMinutes", judgement.windowMinutes}});
  }
  return explanation;
}

}  // namespace vplhost
