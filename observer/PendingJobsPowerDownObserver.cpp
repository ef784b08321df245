#include "observer/PendingJobsPowerDownObserver.h"

#include <cwchar>
#include <mutex>
#include <string>

#include "common/DecisionEntry.h"
#include "common/DecisionRecord.h"
#include "common/GuardedCall.h"
#include "common/Logging.h"
#include "common/ScopedBstr.h"
#include "common/wmi/WbemQuestion.h"
#include "jobs/Clock.h"
#include "jobs/JobFindings.h"
#include "jobs/DateTime.h"
#include "jobs/SMSJobsDetector.h"
#include "observer/ConfigMgrClientPresence.h"
#include "observer/PowerDownJudgement.h"
#include "observer/PowerDownQuestionEntry.h"
#include "observer/VetoMode.h"
#include "contract/StringIds.h"

using NTarn::IsDebugFlagSet;
using NTarn::LoadStringResource;
using NTarn::LogMessage;
namespace debug_flags = NTarn::debug_flags;

namespace {

// What the host gets for a null argument: the HRESULT of ERROR_INVALID_ADDRESS.
constexpr HRESULT kNullArgument = HRESULT_FROM_WIN32(ERROR_INVALID_ADDRESS);

constexpr int kStringCapacity = 100;
constexpr int kPendingReasonCapacity = 120;
// The start of the window a waiting job keeps the machine on for, local time.
constexpr wchar_t kWindowStartPattern[] = L"%Y-%m-%d %H:%M";

// A new BSTR of string resource `id`; null when it does not load (or the
// allocation fails).
NTarn::ScopedBstr LoadBstr(UINT id) {
  wchar_t text[kStringCapacity];
  if (LoadStringResource(id, text, kStringCapacity) == 0) {
    return NTarn::ScopedBstr();
  }
  return NTarn::ScopedBstr(text);
}

}  // namespace

std::unique_ptr<ISMSJobsDetector> PendingJobsPowerDownObserver::MakeDetector(
    DWORD windowMinutes, wchar_t* jobStates, wchar_t* updateStates) {
  // Every detector of this system has an empty refresh scope.
  return std::make_unique<CSMSJobsDetector>(L"", windowMinutes, jobStates,
                                            updateStates);
}

ObserverSettings PendingJobsPowerDownObserver::CopySettings() {
  std::lock_guard guard(*this);
  return m_settings;
}

STDMETHODIMP PendingJobsPowerDownObserver::GetObserverName(BSTR* name) {
  if (!name) return kNullArgument;
  *name = nullptr;
  *name = LoadBstr(IDS_OBSERVER_NAME).Release();
  return S_OK;
}

// Failures on the way are no objection: no client, no WMI, or anything the
// detection raises (which is logged, and ends the question with the safe
// answer).
STDMETHODIMP PendingJobsPowerDownObserver::QueryPowerDown(
    IUnknown* host, PowerDownResponse* response, BSTR* reason) {
  if (!host || !response || !reason) return kNullArgument;
  *response = PowerDownResponse_NoObjection;
  *reason = nullptr;

  PowerDownResponse decided = PowerDownResponse_NoObjection;
  NTarn::ScopedBstr decidedReason;
  NTarn::DecisionEntry entry;
  // Ends within its time whatever WMI does; out of time, the walk under way
  // answers as its failed query does and the question says where it ran out.
  const NTarn::WbemQuestion question(
      "PendingJobsPowerDownObserver::QueryPowerDown");
  const bool answered = NTarn::GuardedCall(
      NTarn::CallSite{".\\PendingJobsPowerDownObserver", __LINE__}, false, [&] {
        Decide(decided, decidedReason, entry);
        return true;
      });
  if (!answered) {
    RecordNoObjection(NTarn::decision_texts::kPowerDownQuestion,
                      "questionFailed");
    return S_OK;
  }
  *response = decided;
  *reason = decidedReason.Release();
  Record(std::move(entry));
  return S_OK;
}

void PendingJobsPowerDownObserver::Decide(PowerDownResponse& response,
                                          NTarn::ScopedBstr& reason,
                                          NTarn::DecisionEntry& entry) {
  ObserverSettings settings = CopySettings();
  // What the detector saw names the deciding item in the record.
  JobFindings findings;
  const PowerDownJudgement judgement = JudgePowerDown(
      settings,
      [this, &findings](DWORD window, wchar_t* jobStates,
                        wchar_t* updateStates) {
        std::unique_ptr<ISMSJobsDetector> detector =
            m_makeDetector(window, jobStates, updateStates);
        if (detector) detector->RecordFindings(&findings);
        return detector;
      },
      [this](const ObserverSettings& read) {
        std::lock_guard guard(*this);
        m_settings.CopyStateListsFrom(read);
      });
  Answer(judgement, response, reason);
  // The record never costs the answer: an entry that cannot be made (out
  // of memory, a text that does not convert) is left out.
  try {
    entry = PowerDownQuestionEntry(judgement, findings, CurrentTime());
  } catch (...) {
    entry = NTarn::DecisionEntry();
  }
  if (judgement.Objects() && VetoModeIsReportOnly())
    WithholdObjection(response, reason, entry);
}

void PendingJobsPowerDownObserver::Answer(const PowerDownJudgement& judgement,
                                          PowerDownResponse& response,
                                          NTarn::ScopedBstr& reason) {
  // The objection stands even when its reason text cannot be made.
  if (judgement.ground == PowerDownGround::kJobsRunning) {
    reason = LoadBstr(IDS_JOBS_IN_PROGRESS);
    response = PowerDownResponse_Objection;
    return;
  }
  if (judgement.ground == PowerDownGround::kJobsPending) {
    // The number is the configured window, not the time until the job.
    wchar_t format[kStringCapacity];
    if (LoadStringResource(IDS_JOBS_PENDING, format, kStringCapacity) != 0) {
      wchar_t text[kPendingReasonCapacity];
      _snwprintf_s(text, kPendingReasonCapacity, _TRUNCATE, format,
                   static_cast<int>(judgement.windowMinutes));
      reason.Reset(::SysAllocString(text));
    }
    response = PowerDownResponse_Objection;
  }
  if (judgement.ground == PowerDownGround::kWorkWaitsForWindow) {
    wchar_t format[kStringCapacity];
    if (LoadStringResource(IDS_WORK_WAITS_FOR_WINDOW, format,
                           kStringCapacity) != 0) {
      const std::wstring start = FormatLocalTime(
          judgement.windowWait->window.start, kWindowStartPattern);
      wchar_t text[kPendingReasonCapacity];
      _snwprintf_s(text, kPendingReasonCapacity, _TRUNCATE, format,
                   start.c_str());
      reason.Reset(::SysAllocString(text));
    }
    response = PowerDownResponse_Objection;
  }
}

void PendingJobsPowerDownObserver::WithholdObjection(
    PowerDownResponse& response, NTarn::ScopedBstr& reason,
    NTarn::DecisionEntry& entry) {
  LogMessage(
      "%T: VetoMode is REPORT: the objection \"%S\" was not made; answering "
      "no objection\n",
      reason.Get() ? reason.Get() : L"");
  response = PowerDownResponse_NoObjection;
  reason.Reset();
  entry.answer = NTarn::decision_texts::kWouldObject;
}

void PendingJobsPowerDownObserver::SetDecisionRecord(
    std::shared_ptr<NTarn::DecisionRecord> record) {
  m_record = std::move(record);
}

void PendingJobsPowerDownObserver::Record(NTarn::DecisionEntry entry) {
  if (m_record && entry.IsWhole()) m_record->Record(std::move(entry));
}

void PendingJobsPowerDownObserver::RecordNoObjection(
    const char* question, const char* ground) noexcept {
  if (!m_record) return;
  try {
    NTarn::DecisionEntry entry = NTarn::DecisionEntry::At(CurrentTime());
    entry.question = question;
    entry.answer = NTarn::decision_texts::kNoObjection;
    entry.ground = ground;
    Record(std::move(entry));
  } catch (...) {
    // Left out, as any entry that cannot be made.
  }
}

STDMETHODIMP PendingJobsPowerDownObserver::QueryPowerDown2(
    IUnknown* host, PowerDownResponse* response, BSTR* reason) {
  if (!host || !response || !reason) return kNullArgument;
  *response = PowerDownResponse_NoObjection;
  *reason = nullptr;
  RecordNoObjection(NTarn::decision_texts::kPowerDownQuestion2, "neverObjects");
  return S_OK;
}

STDMETHODIMP PendingJobsPowerDownObserver::LoadSettings(DWORD flags) {
  // Read into a copy, outside the lock; a question running meanwhile keeps
  // working on the settings it copied.
  ObserverSettings settings = CopySettings();
  settings.Load(flags);
  std::lock_guard guard(*this);
  m_settings = settings;
  return S_OK;
}

STDMETHODIMP PendingJobsPowerDownObserver::LogStatus() {
  if (!IsDebugFlagSet(debug_flags::kVerbose)) return S_OK;
  const bool clientPresent = IsConfigMgrClientPresent();
  const ObserverSettings settings = CopySettings();
  wchar_t name[kStringCapacity];
  if (LoadStringResource(IDS_OBSERVER_NAME, name, kStringCapacity) != 0) {
    LogMessage("%T: PowerDown Observer Name = %S.\n", name);
  }
  LogMessage("Management Client exists = %s.\n", clientPresent ? "YES" : "NO");
  LogMessage("Monitor Job = %s.\n", settings.MonitorJobs());
  LogMessage("Pending Job Window Minutes. = %d\n",
             static_cast<int>(settings.PendingWindowMinutes()));
  LogMessage("Stale Job Hours = %lu\n",
             static_cast<unsigned long>(settings.StaleJobHours()));
  return S_OK;
}
