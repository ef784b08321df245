#include "observer/PowerDownQuestionEntry.h"

#include "common/wmi/WbemText.h"

namespace {

void AddRunningItem(const JobFindings& findings, NTarn::DecisionEntry& entry) {
  for (const ExecutionRequestFinding& request : findings.requests) {
    if (request.ignored || request.stale) continue;
    entry.contentId = NTarn::WideToAnsi(request.contentId.c_str());
    entry.advertId = NTarn::WideToAnsi(request.advertId.c_str());
    entry.state = NTarn::WideToAnsi(request.state.c_str());
    return;
  }
  for (const UpdateFinding& update : findings.updates) {
    if (update.ignored) continue;
    entry.updateId = NTarn::WideToAnsi(update.updateId.c_str());
    entry.updateStatus = static_cast<DWORD>(update.status);
    return;
  }
}

// The pending question stops at the due job: the last element it evaluated.
void AddDueItem(const JobFindings& findings, NTarn::DecisionEntry& entry) {
  if (findings.messages.empty()) return;
  const ScheduledMessageEvaluation& message = findings.messages.back();
  entry.scheduledMessageId = NTarn::WideToAnsi(message.id.c_str());
  if (!message.triggers.empty() && message.triggers.back().next) {
    entry.nextStart = NTarn::IsoUtcTime(*message.triggers.back().next);
  }
}

// The work that waits and the window that lets it run.
void AddWindowItem(const PowerDownJudgement& judgement,
                   NTarn::DecisionEntry& entry) {
  if (!judgement.windowWait) return;
  entry.windowItem = NTarn::WideToAnsi(judgement.windowWait->item.c_str());
  entry.windowStart = NTarn::IsoUtcTime(judgement.windowWait->window.start);
}

}  // namespace

NTarn::DecisionEntry PowerDownQuestionEntry(const PowerDownJudgement& judgement,
                                            const JobFindings& findings,
                                            __time64_t now) {
  namespace texts = NTarn::decision_texts;
  NTarn::DecisionEntry entry = NTarn::DecisionEntry::At(now);
  entry.question = texts::kPowerDownQuestion;
  entry.answer = judgement.Objects() ? texts::kObjection : texts::kNoObjection;
  entry.ground = PowerDownGroundName(judgement.ground);
  entry.pendingWindowMinutes = judgement.windowMinutes;
  if (judgement.ground == PowerDownGround::kJobsRunning)
    AddRunningItem(findings, entry);
  if (judgement.ground == PowerDownGround::kJobsPending)
    AddDueItem(findings, entry);
  if (judgement.ground == PowerDownGround::kWorkWaitsForWindow)
    AddWindowItem(judgement, entry);
  return entry;
}
