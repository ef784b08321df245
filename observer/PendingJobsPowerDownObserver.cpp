#include "observer/PendingJobsPowerDownObserver.h"

#include <cwchar>
#include <mutex>
#include <string>

#include "common/GuardedCall.h"
#include "common/Logging.h"
#include "common/ScopedBstr.h"
#include "common/wmi/WbemQuestion.h"
#include "jobs/DateTime.h"
#include "jobs/SMSJobsDetector.h"
#include "observer/ConfigMgrClientPresence.h"
#include "observer/PowerDownJudgement.h"
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
  // Ends within its time whatever WMI does; out of time, the walk under way
  // answers as its failed query does and the question says where it ran out.
  const NTarn::WbemQuestion question(
      "PendingJobsPowerDownObserver::QueryPowerDown");
  const bool answered = NTarn::GuardedCall(
      NTarn::CallSite{".\\PendingJobsPowerDownObserver", __LINE__}, false, [&] {
        Decide(decided, decidedReason);
        return true;
      });
  if (!answered) return S_OK;
  *response = decided;
  *reason = decidedReason.Release();
  return S_OK;
}

void PendingJobsPowerDownObserver::Decide(PowerDownResponse& response,
                                          NTarn::ScopedBstr& reason) {
  ObserverSettings settings = CopySettings();
  const PowerDownJudgement judgement = JudgePowerDown(
      settings, m_makeDetector, [this](const ObserverSettings& read) {
        std::lock_guard guard(*this);
        m_settings.CopyStateListsFrom(read);
      });

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

STDMETHODIMP PendingJobsPowerDownObserver::QueryPowerDown2(
    IUnknown* host, PowerDownResponse* response, BSTR* reason) {
  if (!host || !response || !reason) return kNullArgument;
  *response = PowerDownResponse_NoObjection;
  *reason = nullptr;
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
