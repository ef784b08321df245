#include "autopowerdown/AutoPowerdownRequest.h"

#include <cstring>
#include <mutex>
#include <string>

#include "autopowerdown/CPowerDownContext.h"
#include "autopowerdown/SettingsKeys.h"
#include "common/GuardedCall.h"
#include "common/Logging.h"
#include "common/PolicyBackedSetting.h"
#include "common/RegistryMaintenance.h"
#include "common/RegistryParameters.h"
#include "common/ScopedBstr.h"
#include "common/wmi/WbemText.h"
#include "contract/StringIds.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr DWORD kRequestEventId = 0x00020001;
constexpr int kEventTextChars = 259;
constexpr int kNameChars = 100;

constexpr ULONGLONG kOneDay = 864000000000ULL;
// Fired a little after the planned time, never before it.
constexpr ULONGLONG kTenthOfASecond = 1000000ULL;

ULONGLONG LocalFileTimeNow() {
  FILETIME utc;
  ::GetSystemTimeAsFileTime(&utc);
  FILETIME local;
  ::FileTimeToLocalFileTime(&utc, &local);
  return (static_cast<ULONGLONG>(local.dwHighDateTime) << 32) |
         local.dwLowDateTime;
}

// Writes "Initiated auto power down request (retry=N)" to the event log.
void WriteAttemptEvent(DWORD retryCount) {
  wchar_t format[kEventTextChars + 1];
  if (NTarn::LoadStringResource(IDS_INITIATED_AUTO_POWER_DOWN, format,
                                kEventTextChars + 1) == 0) {
    return;
  }
  wchar_t text[kEventTextChars + 1] = L"";
  _snwprintf_s(text, kEventTextChars + 1, _TRUNCATE, format,
               static_cast<int>(retryCount));
  const std::string eventText = NTarn::GuardedCall(
      NTarn::CallSite{".\\AutoPowerdownRequest", __LINE__}, std::string(),
      [&text] { return NTarn::WideToAnsi(text); });
  NTarn::WriteEventLog(EVENTLOG_INFORMATION_TYPE, kRequestEventId,
                       eventText.c_str(), nullptr, nullptr);
  if (NTarn::IsDebugFlagSet(NTarn::debug_flags::kAutoPowerDownAttempts)) {
    NTarn::LogMessage("%T: Initiated auto power down (RetryAttempt=%d)\n",
                      static_cast<int>(retryCount));
  }
}

void DeleteAttemptState() {
  NTarn::RecurDeleteKey(HKEY_LOCAL_MACHINE, autopowerdown_keys::kState);
}

}  // namespace

class AutoPowerdownRequest::AttemptScope {
 public:
  explicit AttemptScope(AutoPowerdownRequest& request) : m_request(request) {
    std::lock_guard guard(m_request);
    if (m_request.m_attemptDepth++ == 0) {
      m_request.m_endedDuringAttempt = false;
      m_request.m_exhaustedBySubmission = false;
    }
  }
  ~AttemptScope() {
    std::lock_guard guard(m_request);
    --m_request.m_attemptDepth;
  }
  AttemptScope(const AttemptScope&) = delete;
  AttemptScope& operator=(const AttemptScope&) = delete;

 private:
  AutoPowerdownRequest& m_request;
};

AutoPowerdownRequest::AutoPowerdownRequest(ULONGLONG retryTimerMinute)
    : m_retryTimerMinute(retryTimerMinute) {}

AutoPowerdownRequest::~AutoPowerdownRequest() {
  if (m_retryTimer) ::CancelWaitableTimer(m_retryTimer.Get());
}

HRESULT AutoPowerdownRequest::FinalConstruct() {
  m_retryTimer.Reset(::CreateWaitableTimerW(nullptr, FALSE, nullptr));
  if (!m_retryTimer) return HRESULT_FROM_WIN32(::GetLastError());
  return S_OK;
}

// --- IPowerDownRequest -------------------------------------------------------

STDMETHODIMP AutoPowerdownRequest::GetName(BSTR* name) {
  if (!name) return E_POINTER;
  *name = nullptr;
  wchar_t text[kNameChars];
  if (NTarn::LoadStringResource(IDS_AUTO_POWER_DOWN_REQUEST, text,
                                kNameChars) == 0) {
    return E_FAIL;
  }
  *name = ::SysAllocString(text);
  return *name ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP AutoPowerdownRequest::GetRetryCount(int* retryCount) {
  if (!retryCount) return E_POINTER;
  std::lock_guard guard(*this);
  *retryCount = static_cast<int>(m_currentRetryCount);
  return S_OK;
}

STDMETHODIMP AutoPowerdownRequest::IsAutomatic(VARIANT_BOOL* automatic) {
  if (!automatic) return E_POINTER;
  *automatic = VARIANT_TRUE;
  return S_OK;
}

STDMETHODIMP AutoPowerdownRequest::IsInProgress(VARIANT_BOOL* inProgress) {
  if (!inProgress) return E_POINTER;
  std::lock_guard guard(*this);
  *inProgress = m_currentRetryCount != 0 ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

STDMETHODIMP AutoPowerdownRequest::IsLastAttempt(VARIANT_BOOL* lastAttempt) {
  if (!lastAttempt) return E_POINTER;
  std::lock_guard guard(*this);
  *lastAttempt =
      m_currentRetryCount >= m_maxRetryAttempts ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

STDMETHODIMP AutoPowerdownRequest::IsExhausted(VARIANT_BOOL* exhausted) {
  if (!exhausted) return E_POINTER;
  std::lock_guard guard(*this);
  *exhausted =
      m_currentRetryCount > m_maxRetryAttempts ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

STDMETHODIMP AutoPowerdownRequest::OnCompleted(LONG) {
  {
    // While an attempt is being made the host may complete the context it
    // was just handed, before that attempt has been counted.
    std::lock_guard guard(*this);
    if (m_currentRetryCount == 0 && m_attemptDepth == 0) return E_FAIL;
  }
  if (NTarn::IsDebugFlagSet(NTarn::debug_flags::kRequestCompletion)) {
    NTarn::LogMessage(
        "%T: Auto power down request: Completed last power down request.\n");
  }
  EndCycleFromHost();
  return S_OK;
}

STDMETHODIMP AutoPowerdownRequest::OnCancelled(LONG) { return S_OK; }

STDMETHODIMP AutoPowerdownRequest::OnLogoffFailed(LONG) { return S_OK; }

STDMETHODIMP AutoPowerdownRequest::Submit(IPowerDownProvider* provider) {
  return NTarn::GuardedHResultCall(
      NTarn::CallSite{".\\AutoPowerdownRequest", __LINE__}, [this, provider] {
        ComPtr<IPowerDownContext> context;
        {
          std::lock_guard guard(*this);
          context = m_context;
        }
        if (!context || !provider) return E_POINTER;
        AttemptScope attempt(*this);
        return SubmitAttempt(provider, context.Get());
      });
}

STDMETHODIMP AutoPowerdownRequest::Reserved() { return S_OK; }

STDMETHODIMP AutoPowerdownRequest::LogTrigger() {
  DWORD current, maximum, interval;
  {
    std::lock_guard guard(*this);
    current = m_currentRetryCount;
    maximum = m_maxRetryAttempts;
    interval = m_retryIntervalMins;
  }
  NTarn::LogMessage(
      "%T: Auto PowerDown Trigger:\n\tCurrentRetryCount: %d, "
      "MaxRetryAttempts: %d, RetryIntervalMins: %d, ShutdownDays: %d, "
      "ShutdownHour: %d, ShutdownMins: %d, ",
      static_cast<int>(current), static_cast<int>(maximum),
      static_cast<int>(interval), m_shutdownDays, m_shutdownHour,
      m_shutdownMins);
  return S_OK;
}

STDMETHODIMP AutoPowerdownRequest::Abort() {
  NTarn::LogMessage("%T: Aborting Auto Power Down Request.\n");
  EndCycleFromHost();
  return S_OK;
}

// --- The thread's side -------------------------------------------------------

HRESULT AutoPowerdownRequest::IssueRequest(IPowerDownProvider* provider,
                                           int powerDownType) {
  if (!provider) return E_POINTER;
  if (powerDownType == 0) return E_INVALIDARG;
  return NTarn::GuardedHResultCall(
      NTarn::CallSite{".\\AutoPowerdownRequest", __LINE__}, [&] {
        AttemptScope attempt(*this);
        return IssueAttempt(provider, powerDownType);
      });
}

HRESULT AutoPowerdownRequest::IssueAttempt(IPowerDownProvider* provider,
                                           int powerDownType) {
  // The attempt works on a reference of its own: the host may end the cycle
  // and so make the request let go of the context meanwhile.
  ComPtr<IPowerDownContext> context;
  DWORD maxRetryAttempts;
  DWORD retryIntervalMins;
  bool maxRetryAttemptsFromPolicy;
  bool retryIntervalFromPolicy;
  {
    std::lock_guard guard(*this);
    context = m_context;
    maxRetryAttempts = m_maxRetryAttempts;
    retryIntervalMins = m_retryIntervalMins;
    maxRetryAttemptsFromPolicy = m_maxRetryAttemptsFromPolicy;
    retryIntervalFromPolicy = m_retryIntervalFromPolicy;
  }
  if (!context) {
    ComPtr<IPowerDownContext> created;
    HRESULT hr = NTarn::ComObject<CPowerDownContext>::CreateInstance(
        IID_PPV_ARGS(&created));
    if (FAILED(hr)) return hr;
    hr = created->PutRequest(this);
    if (FAILED(hr)) return hr;
    std::lock_guard guard(*this);
    if (!m_context) m_context = created;
    context = m_context;
  }

  const std::string defaultAction =
      NTarn::WideToAnsi(LogoffActionToText(kLogoffNever));
  char logoffAction[autopowerdown_keys::kLogoffActionBytes] = "";
  strncpy_s(logoffAction, defaultAction.c_str(), _TRUNCATE);
  NTarn::RegGetPolicyParameter(
      HKEY_LOCAL_MACHINE, autopowerdown_keys::kSettings, "LogOffAction", REG_SZ,
      logoffAction, sizeof(logoffAction),
      NTarn::reg_flags::kReadOnly | NTarn::reg_flags::kKeepDefault);
  // The current values are the defaults written back when a value is
  // missing, but never a value that came from a withdrawn policy.
  const DWORD builtInDefault = 0;
  NTarn::ReadPolicyBackedSetting(
      HKEY_LOCAL_MACHINE, autopowerdown_keys::kSettings, "RetryAttempts",
      REG_DWORD, &maxRetryAttempts, sizeof(maxRetryAttempts), &builtInDefault,
      maxRetryAttemptsFromPolicy, 0);
  NTarn::ReadPolicyBackedSetting(
      HKEY_LOCAL_MACHINE, autopowerdown_keys::kSettings, "RetryInterval",
      REG_DWORD, &retryIntervalMins, sizeof(retryIntervalMins), &builtInDefault,
      retryIntervalFromPolicy, 0);
  DWORD countdownSecs = 0;
  NTarn::RegGetPolicyParameter(HKEY_LOCAL_MACHINE,
                               autopowerdown_keys::kSettings, "CountdownSecs",
                               REG_DWORD, &countdownSecs, sizeof(countdownSecs),
                               NTarn::reg_flags::kReadOnly);
  char shutdownMessage[autopowerdown_keys::kShutdownMessageBytes] = "";
  NTarn::RegGetPolicyParameter(
      HKEY_LOCAL_MACHINE, autopowerdown_keys::kSettings, "ShutdownMsg", REG_SZ,
      shutdownMessage, sizeof(shutdownMessage), NTarn::reg_flags::kReadOnly);
  logoffAction[autopowerdown_keys::kLogoffActionBytes - 1] = '\0';
  shutdownMessage[autopowerdown_keys::kShutdownMessageBytes - 1] = '\0';
  {
    std::lock_guard guard(*this);
    m_maxRetryAttempts = maxRetryAttempts;
    m_retryIntervalMins = retryIntervalMins;
    m_maxRetryAttemptsFromPolicy = maxRetryAttemptsFromPolicy;
    m_retryIntervalFromPolicy = retryIntervalFromPolicy;
  }

  const NTarn::ScopedBstr message = NTarn::AnsiToBstr(shutdownMessage);
  HRESULT hr = context->PutMessage(message.Get());
  if (FAILED(hr)) return hr;
  hr = context->PutCountdownSecs(static_cast<int>(countdownSecs));
  if (FAILED(hr)) return hr;
  context->PutFlagA(0);
  context->PutPowerDownType(powerDownType);
  if (logoffAction[0] != '\0') {
    context->PutLogoffAction(
        LogoffActionFromText(NTarn::AnsiToWide(logoffAction).c_str()));
  }
  return SubmitAttempt(provider, context.Get());
}

HRESULT AutoPowerdownRequest::SubmitAttempt(IPowerDownProvider* provider,
                                            IPowerDownContext* context) {
  int powerDownType = 0;
  HRESULT hr = context->GetPowerDownType(&powerDownType);
  if (FAILED(hr)) return hr;
  int logoffAction = kLogoffNever;
  hr = context->GetLogoffAction(&logoffAction);
  if (FAILED(hr)) return hr;
  // A logoff action of NEVER never powers down.
  if (powerDownType == 0 || logoffAction == kLogoffNever) {
    NTarn::LogMessage(
        "%T: Invalid power down context passed into the auto power down "
        "request; bailing...\n");
    hr = provider->WithdrawRequest(context);
    return FAILED(hr) ? hr : E_FAIL;
  }

  DWORD retryCount;
  bool settingLowered;
  {
    std::lock_guard guard(*this);
    // The host ended the cycle while this attempt was being prepared.
    if (m_endedDuringAttempt) return S_OK;
    retryCount = m_currentRetryCount;
    settingLowered =
        m_currentRetryCount != 0 && m_currentRetryCount > m_maxRetryAttempts;
    if (settingLowered) ::CancelWaitableTimer(m_retryTimer.Get());
  }
  if (settingLowered) {
    DeleteAttemptState();
    if (NTarn::IsDebugFlagSet(NTarn::debug_flags::kVerbose)) {
      NTarn::LogMessage(
          "%T: Maximum retry attempts exceeded or invalid timer value "
          "encountered; reseting auto power down request state.\n");
    }
    provider->WithdrawRequest(context);
    return E_FAIL;
  }

  WriteAttemptEvent(retryCount);
  {
    // Kept alive by a reference of its own while the host has it.
    ComPtr<IPowerDownRequest> self;
    if (SUCCEEDED(QueryInterface(IID_PPV_ARGS(&self)))) {
      provider->RequestPowerDown(context);
    }
  }

  DWORD intervalMins;
  bool exhausted;
  {
    std::lock_guard guard(*this);
    // A completion or abort that came during the call wins.
    if (m_endedDuringAttempt) return S_OK;
    retryCount = ++m_currentRetryCount;
    intervalMins = m_retryIntervalMins;
    exhausted = m_currentRetryCount > m_maxRetryAttempts;
    if (exhausted) {
      ::CancelWaitableTimer(m_retryTimer.Get());
      m_exhaustedBySubmission = true;
    }
  }
  if (exhausted) {
    DeleteAttemptState();
    return E_FAIL;
  }
  ArmRetryTimer(retryCount, intervalMins);
  return S_OK;
}

bool AutoPowerdownRequest::SubmissionExhaustedAttempts() {
  std::lock_guard guard(*this);
  return m_exhaustedBySubmission;
}

ComPtr<IPowerDownContext> AutoPowerdownRequest::ReleaseContext() {
  ComPtr<IPowerDownContext> context;
  std::lock_guard guard(*this);
  context.Swap(m_context);
  return context;
}

void AutoPowerdownRequest::ArmRetryTimer(DWORD retryCount,
                                         DWORD intervalMinutes) {
  {
    std::lock_guard guard(*this);
    ::CancelWaitableTimer(m_retryTimer.Get());
  }
  const ULONGLONG now = LocalFileTimeNow();
  ULONGLONG lastAttempt = 0;
  NTarn::GetRegParameter(HKEY_LOCAL_MACHINE, autopowerdown_keys::kState,
                         autopowerdown_keys::kLastAttemptTime, REG_QWORD,
                         &lastAttempt, sizeof(lastAttempt),
                         NTarn::reg_flags::kReadOnly);
  // The first retry counts from the first attempt, every later one from the
  // time planned before it, which keeps the retries on a fixed grid.
  const ULONGLONG base =
      lastAttempt == 0 || retryCount == 1 ? now : lastAttempt;
  const ULONGLONG next = base + intervalMinutes * m_retryTimerMinute;
  NTarn::SetRegParameter(HKEY_LOCAL_MACHINE, autopowerdown_keys::kState,
                         autopowerdown_keys::kLastAttemptTime, REG_QWORD, &next,
                         sizeof(next), 0);

  ULONGLONG localDue = next;
  if (localDue <= now) localDue += kOneDay;
  localDue += kTenthOfASecond;
  FILETIME local;
  local.dwLowDateTime = static_cast<DWORD>(localDue);
  local.dwHighDateTime = static_cast<DWORD>(localDue >> 32);
  FILETIME utc;
  ::LocalFileTimeToFileTime(&local, &utc);
  LARGE_INTEGER dueTime;
  dueTime.LowPart = utc.dwLowDateTime;
  dueTime.HighPart = static_cast<LONG>(utc.dwHighDateTime);
  {
    std::lock_guard guard(*this);
    // Not armed again once the host has ended the cycle.
    if (m_endedDuringAttempt) return;
    ::SetWaitableTimer(m_retryTimer.Get(), &dueTime, 0, nullptr, nullptr,
                       FALSE);
  }
  NTarn::LogMessage("%T: Setting auto power down to fire at %s\n",
                    NTarn::FormatTimeStamp(nullptr, 0, localDue));
}

void AutoPowerdownRequest::EndCycleFromHost() {
  // The context may hold the last reference to this request; it goes last.
  const ComPtr<IPowerDownRequest> keepAlive(this);
  ComPtr<IPowerDownContext> released;
  {
    std::lock_guard guard(*this);
    m_currentRetryCount = 0;
    ::CancelWaitableTimer(m_retryTimer.Get());
    released.Swap(m_context);
    if (m_attemptDepth > 0) m_endedDuringAttempt = true;
  }
  // The context is released outside the lock: it lets go of this request
  // in turn.
}
