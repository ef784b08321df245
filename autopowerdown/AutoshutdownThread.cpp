#include "autopowerdown/AutoshutdownThread.h"

#include <objbase.h>

#include <mutex>
#include <utility>

#include "autopowerdown/AutoPowerdownRequest.h"
#include "autopowerdown/SettingsKeys.h"
#include "common/DecisionEntry.h"
#include "common/DecisionRecord.h"
#include "common/GuardedCall.h"
#include "common/Logging.h"
#include "common/RegistryParameters.h"
#include "common/wmi/WbemQuestion.h"
#include "jobs/Clock.h"
#include "jobs/ISMSJobsDetector.h"

using Microsoft::WRL::ComPtr;

namespace {

// A worker that ends within this time is not refused as running.
constexpr DWORD kStopProbeMilliseconds = 10;
// "RetryInterval" is in minutes, the idle time in milliseconds.
constexpr ULONGLONG kMillisecondsPerMinute = 60000;

// The host's idle time; the variable is zeroed first, as the host expects.
HRESULT QueryTimeSinceLastInput(ITimeSinceLastInputProvider* provider,
                                DWORD* milliseconds) {
  *milliseconds = 0;
  if (!provider) return E_POINTER;
  return provider->GetTimeSinceLastInput(milliseconds);
}

// Whether the client refreshed its policy within `minutes`, within the
// question's time whatever WMI does, so that a stop is not held up behind
// it. A question that fails counts as no refresh seen.
bool AskRefreshCheck(ISMSJobsDetector& detector, int minutes) {
  const NTarn::WbemQuestion question("AutoshutdownThread policy refresh check");
  return NTarn::GuardedCall(
      NTarn::CallSite{".\\AutoshutdownThread", __LINE__}, false,
      [&detector, minutes] {
        return detector.FoundRecentPolicyRefreshEvent(minutes);
      });
}

}  // namespace

AutoshutdownThread::AutoshutdownThread(const AutoshutdownTiming& timing)
    : StoppableThread("AutoshutdownThread"), m_timing(timing) {}

AutoshutdownThread::~AutoshutdownThread() { StopAndJoin(); }

void AutoshutdownThread::SetTimeSinceLastInputProvider(
    ComPtr<ITimeSinceLastInputProvider> provider) {
  std::lock_guard<NTarn::CriticalSection> guard(StateLock());
  m_timeSinceLastInput = std::move(provider);
}

void AutoshutdownThread::SetPowerDownProvider(
    ComPtr<IPowerDownProvider> provider) {
  std::lock_guard<NTarn::CriticalSection> guard(StateLock());
  m_powerDownProvider = std::move(provider);
}

void AutoshutdownThread::SetDecisionRecord(
    std::shared_ptr<NTarn::DecisionRecord> record) {
  std::lock_guard<NTarn::CriticalSection> guard(StateLock());
  m_record = std::move(record);
}

HRESULT AutoshutdownThread::ReserveStart() {
  std::lock_guard<NTarn::CriticalSection> guard(StateLock());
  if (IsActiveLocked() || m_startReserved || m_stopsUnderWay > 0) {
    return HRESULT_FROM_WIN32(ERROR_SERVICE_ALREADY_RUNNING);
  }
  m_startReserved = true;
  return S_OK;
}

HRESULT AutoshutdownThread::StartReserved(
    std::shared_ptr<ISMSJobsDetector> detector) {
  StartRecord record;
  HRESULT hr;
  {
    std::lock_guard<NTarn::CriticalSection> guard(StateLock());
    m_detector = std::move(detector);
    hr = StartLocked(&record);
    if (SUCCEEDED(hr)) m_startReserved = false;
  }
  if (SUCCEEDED(hr)) FinishStart(&record);
  return hr;
}

void AutoshutdownThread::CancelReservedStart() {
  std::lock_guard<NTarn::CriticalSection> guard(StateLock());
  m_startReserved = false;
}

void AutoshutdownThread::StopAndSetPowerDownType(int powerDownType) {
  {
    std::lock_guard<NTarn::CriticalSection> guard(StateLock());
    if (IsOwnThreadLocked()) {
      // The worker cannot wait for itself: it sees the stop once the host's
      // call returns, and its next run takes the new type.
      RequestStop();
      m_powerDownType = powerDownType;
      return;
    }
    if (!IsActiveLocked()) {
      m_powerDownType = powerDownType;
      return;
    }
    ++m_stopsUnderWay;
  }
  if (IsRunning(kStopProbeMilliseconds)) {
    NTarn::LogMessage(
        "%T: Auto power down thread was running; cancelling...\n");
    StopAndJoin();
  }
  std::lock_guard<NTarn::CriticalSection> guard(StateLock());
  m_powerDownType = powerDownType;
  --m_stopsUnderWay;
}

int AutoshutdownThread::PowerDownType() {
  std::lock_guard<NTarn::CriticalSection> guard(StateLock());
  return m_powerDownType;
}

AutoshutdownThread::Services AutoshutdownThread::CopyServices() {
  std::lock_guard<NTarn::CriticalSection> guard(StateLock());
  return Services{m_timeSinceLastInput, m_powerDownProvider, m_detector,
                  m_record};
}

void AutoshutdownThread::RecordOutcome() noexcept {
  const Services services = CopyServices();
  if (!services.record) return;
  try {
    const AutoPowerDownOutcomeText text = DescribeOutcome(m_outcome);
    NTarn::DecisionEntry entry = NTarn::DecisionEntry::At(CurrentTime());
    entry.question = NTarn::decision_texts::kAutoPowerDown;
    entry.answer = text.answer;
    entry.ground = text.ground;
    if (services.detector)
      entry.pendingWindowMinutes = services.detector->PendingWindowMinutes();
    services.record->Record(std::move(entry));
  } catch (...) {
    // Left out: the record never costs the run anything.
  }
}

unsigned AutoshutdownThread::Run() {
  m_outcome = AutoPowerDownOutcome::kComFailed;
  NTarn::LogMessage(
      "%T: Kicking off the SMS\\CMgr auto power down thread to monitor the "
      "CM/SMS Client policy evaluator\n");
  if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
    NTarn::LogMessage(
        "%T: Error when initializing COM; exiting the SMS\\CMgr "
        "auto-powersdown thread...\n");
  } else {
    bool goAhead = false;
    if (FAILED(WaitForPolicyJobs(&goAhead))) {
      NTarn::LogMessage(
          "%T: Wait for SMS\\CMgr policy refresh to take effect failed; "
          "bailing...\n");
      ::CoUninitialize();
      RecordOutcome();
      return 0;
    }
    if (goAhead && FAILED(RunPowerDownRequests())) {
      NTarn::LogMessage("%T: Filed to kick off auto power down request\n");
    }
    ::CoUninitialize();
  }
  RecordOutcome();
  if (NTarn::IsDebugFlagSet(NTarn::debug_flags::kVerbose)) {
    NTarn::LogMessage("%T: Exiting the SMS\\CMgr auto-powerdown thread\n");
  }
  return 0;
}

HRESULT AutoshutdownThread::WaitForPolicyJobs(bool* goAhead) {
  *goAhead = false;
  const Services services = CopyServices();
  // Chosen once: the verbose switch also keeps the display on.
  EXECUTION_STATE state = ES_CONTINUOUS | ES_SYSTEM_REQUIRED;
  if (NTarn::IsDebugFlagSet(NTarn::debug_flags::kVerbose))
    state |= ES_DISPLAY_REQUIRED;
  int minute = 0;
  bool found = false;
  int countdown = m_timing.policyWaitMinutes;
  for (;;) {
    m_timing.setExecutionState(state);
    const DWORD wait =
        ::WaitForSingleObject(StopEvent(), m_timing.minuteMilliseconds);
    if (wait == WAIT_OBJECT_0) {
      m_outcome = AutoPowerDownOutcome::kStoppedWhileWaiting;
      break;
    }
    if (wait != WAIT_TIMEOUT) {
      m_outcome = AutoPowerDownOutcome::kWaitFailed;
      const DWORD error = ::GetLastError();
      NTarn::LogMessage(
          "%T: Internal error: Wait failed in AutoShutdownthread [%d] "
          "%s\n",
          static_cast<int>(error), NTarn::FormatErrorText(error));
      break;
    }
    ++minute;
    DWORD idle = 0;
    const HRESULT input =
        QueryTimeSinceLastInput(services.timeSinceLastInput.Get(), &idle);
    if (SUCCEEDED(input) && idle < m_timing.userInputThresholdMilliseconds) {
      NTarn::LogMessage(
          "%T: Autopowerdown thread: user input detected whilst checking job "
          "status; cancelling...\n");
      m_outcome = AutoPowerDownOutcome::kUserInputWhileWaiting;
      break;
    }
    if (found) {
      --countdown;
    } else {
      found = services.detector && AskRefreshCheck(*services.detector, minute);
      if (minute == m_timing.policyWaitMinutes) found = true;
    }
    if (FAILED(input)) {
      m_outcome = AutoPowerDownOutcome::kIdleTimeUnavailable;
      break;
    }
    if (found && countdown == 0) {
      if (NTarn::IsDebugFlagSet(NTarn::debug_flags::kVerbose)) {
        NTarn::LogMessage(
            "%T: Policy refresh and wait for policy to generate jobs "
            "completed; exiting wait loop...\n");
      }
      *goAhead = true;
      break;
    }
  }
  // Ends the requirement: a state without ES_CONTINUOUS would leave it on.
  m_timing.setExecutionState(ES_CONTINUOUS);
  return S_OK;
}

HRESULT AutoshutdownThread::RunPowerDownRequests() {
  const Services services = CopyServices();
  NTarn::ComObject<AutoPowerdownRequest>* created = nullptr;
  HRESULT hr = NTarn::ComObject<AutoPowerdownRequest>::CreateInstance(
      &created, m_timing.retryTimerMinute);
  m_outcome = AutoPowerDownOutcome::kRequestFailed;
  if (FAILED(hr)) return hr;
  const ComPtr<AutoPowerdownRequest> request(created);

  DWORD idle = 0;
  if (SUCCEEDED(
          QueryTimeSinceLastInput(services.timeSinceLastInput.Get(), &idle)) &&
      idle < m_timing.userInputThresholdMilliseconds) {
    NTarn::LogMessage(
        "%T: Autopowerdown thread: user input detected before kicking off "
        "power down request; cancelling...\n");
    m_outcome = AutoPowerDownOutcome::kUserInputBeforeRequest;
    return S_OK;
  }

  IPowerDownProvider* provider = services.powerDownProvider.Get();
  hr = request->IssueRequest(provider, PowerDownType());
  if (FAILED(hr)) {
    // Not withdrawn; the host's hold on the context keeps the request alive.
    if (request->SubmissionExhaustedAttempts())
      m_outcome = AutoPowerDownOutcome::kAttemptsExhausted;
    request->ReleaseContext();
    return hr;
  }
  m_outcome = AutoPowerDownOutcome::kStoppedAfterRequest;

  bool withdraw = true;
  const HANDLE handles[] = {StopEvent(), request->RetryTimer()};
  for (;;) {
    const DWORD wait = ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    if (wait == WAIT_OBJECT_0 || wait == WAIT_FAILED) break;
    if (wait != WAIT_OBJECT_0 + 1) continue;
    if (SUCCEEDED(QueryTimeSinceLastInput(services.timeSinceLastInput.Get(),
                                          &idle))) {
      DWORD retryIntervalMins = 0;
      NTarn::RegGetPolicyParameter(
          HKEY_LOCAL_MACHINE, autopowerdown_keys::kSettings, "RetryInterval",
          REG_DWORD, &retryIntervalMins, sizeof(retryIntervalMins), 0);
      if (idle < retryIntervalMins * kMillisecondsPerMinute) {
        NTarn::LogMessage(
            "%T: Autopowerdown thread: user input detected whilst in a power "
            "down retry; bailing...\n");
        m_outcome = AutoPowerDownOutcome::kUserInputAtRetry;
        break;
      }
    }
    if (FAILED(request->IssueRequest(provider, PowerDownType()))) {
      // The last permitted attempt is under way: withdrawing it would stop
      // the power-down that the event log announced.
      withdraw = !request->SubmissionExhaustedAttempts();
      m_outcome = withdraw ? AutoPowerDownOutcome::kRequestFailed
                           : AutoPowerDownOutcome::kAttemptsExhausted;
      break;
    }
  }
  const ComPtr<IPowerDownContext> context = request->ReleaseContext();
  if (withdraw && context && provider) provider->WithdrawRequest(context.Get());
  return S_OK;
}
