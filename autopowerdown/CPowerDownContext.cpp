#include "autopowerdown/CPowerDownContext.h"

#include <cwchar>
#include <mutex>
#include <string>
#include <utility>

#include "common/GuardedCall.h"
#include "common/Logging.h"
#include "common/wmi/WbemText.h"
#include "contract/StringIds.h"

using Microsoft::WRL::ComPtr;

namespace {

// ERROR_INVALID_ADDRESS as an HRESULT: a null out-parameter, or an outcome
// report on a context that belongs to no request.
constexpr HRESULT kInvalidAddress = HRESULT_FROM_WIN32(ERROR_INVALID_ADDRESS);

constexpr DWORD kRequestEventId = 0x00020001;
// The event text holds at most this many characters; a longer one is cut.
constexpr int kEventTextChars = 259;

constexpr const wchar_t* kLogoffActionTexts[] = {L"NEVER", L"PASSIVE",
                                                 L"ACTIVE", L"FORCE"};

// Writes "Cancelling <name>" to the event log and logs the report.
void WriteCancellationEvent(const char* label, BSTR name) {
  wchar_t format[kEventTextChars + 1];
  if (NTarn::LoadStringResource(IDS_CANCELLING_REQUEST, format,
                                kEventTextChars + 1) == 0) {
    return;
  }
  wchar_t text[kEventTextChars + 1] = L"";
  _snwprintf_s(text, kEventTextChars + 1, _TRUNCATE, format, name ? name : L"");
  const std::string eventText = NTarn::GuardedCall(
      NTarn::CallSite{".\\CPowerDownContext", __LINE__}, std::string(),
      [&text] { return NTarn::WideToAnsi(text); });
  NTarn::WriteEventLog(EVENTLOG_INFORMATION_TYPE, kRequestEventId,
                       eventText.c_str(), nullptr, nullptr);
  NTarn::LogMessage("%T: %s %S\n", label, name);
}

}  // namespace

int LogoffActionFromText(const wchar_t* text) {
  for (int action = kLogoffNever; action <= kLogoffForce; ++action) {
    if (text && _wcsicmp(text, kLogoffActionTexts[action]) == 0) return action;
  }
  NTarn::LogMessage(
      "LogoffAction = '%ls'; this is not a valid setting; assuming "
      "'NEVER'\n",
      text ? text : L"");
  return kLogoffNever;
}

const wchar_t* LogoffActionToText(int action) {
  if (action < kLogoffPassive || action > kLogoffForce) {
    return kLogoffActionTexts[kLogoffNever];
  }
  return kLogoffActionTexts[action];
}

// --- Plain fields ------------------------------------------------------------

STDMETHODIMP CPowerDownContext::GetPowerDownType(int* type) {
  if (!type) return kInvalidAddress;
  std::lock_guard guard(*this);
  *type = m_powerDownType;
  return S_OK;
}

STDMETHODIMP CPowerDownContext::PutPowerDownType(int type) {
  std::lock_guard guard(*this);
  m_powerDownType = type;
  return S_OK;
}

STDMETHODIMP CPowerDownContext::GetLogoffAction(int* action) {
  if (!action) return kInvalidAddress;
  std::lock_guard guard(*this);
  *action = m_logoffAction;
  return S_OK;
}

STDMETHODIMP CPowerDownContext::PutLogoffAction(int action) {
  std::lock_guard guard(*this);
  m_logoffAction = action;
  return S_OK;
}

STDMETHODIMP CPowerDownContext::GetFlagA(short* flag) {
  if (!flag) return kInvalidAddress;
  std::lock_guard guard(*this);
  *flag = m_flagA;
  return S_OK;
}

STDMETHODIMP CPowerDownContext::PutFlagA(short flag) {
  std::lock_guard guard(*this);
  m_flagA = flag;
  return S_OK;
}

STDMETHODIMP CPowerDownContext::GetRequest(IPowerDownRequest** request) {
  if (!request) return kInvalidAddress;
  std::lock_guard guard(*this);
  *request = m_request.Get();
  return m_request ? S_OK : E_POINTER;
}

STDMETHODIMP CPowerDownContext::PutRequest(IPowerDownRequest* request) {
  if (!request) return E_POINTER;
  ComPtr<IPowerDownRequest> previous(request);
  {
    std::lock_guard guard(*this);
    m_request.Swap(previous);
  }
  // The previous request goes outside the lock: its release may end it.
  return S_OK;
}

STDMETHODIMP CPowerDownContext::GetCountdownSecs(int* seconds) {
  if (!seconds) return kInvalidAddress;
  std::lock_guard guard(*this);
  *seconds = m_countdownSecs;
  return S_OK;
}

STDMETHODIMP CPowerDownContext::PutCountdownSecs(int seconds) {
  std::lock_guard guard(*this);
  m_countdownSecs = seconds;
  return S_OK;
}

STDMETHODIMP CPowerDownContext::GetMessage(BSTR* message) {
  if (!message) return E_POINTER;
  *message = nullptr;
  std::lock_guard guard(*this);
  if (m_message.IsNull()) return E_POINTER;
  // Copied under the lock: a retry may replace the text meanwhile.
  *message = ::SysAllocStringLen(m_message.Get(), m_message.Length());
  return *message ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CPowerDownContext::PutMessage(BSTR message) {
  {
    std::lock_guard guard(*this);
    if (message == m_message.Get()) return S_OK;
  }
  NTarn::ScopedBstr copy;
  if (message) {
    copy.Reset(::SysAllocStringLen(message, ::SysStringLen(message)));
    if (copy.IsNull()) return E_OUTOFMEMORY;
  }
  {
    std::lock_guard guard(*this);
    std::swap(m_message, copy);
  }
  return S_OK;
}

STDMETHODIMP CPowerDownContext::GetOutcome(int* outcome) {
  if (!outcome) return kInvalidAddress;
  std::lock_guard guard(*this);
  *outcome = m_outcome;
  return S_OK;
}

STDMETHODIMP CPowerDownContext::PutOutcome(int outcome) {
  std::lock_guard guard(*this);
  m_outcome = outcome;
  return S_OK;
}

STDMETHODIMP CPowerDownContext::GetFlagB(short* flag) {
  if (!flag) return kInvalidAddress;
  std::lock_guard guard(*this);
  *flag = m_flagB;
  return S_OK;
}

STDMETHODIMP CPowerDownContext::PutFlagB(short flag) {
  std::lock_guard guard(*this);
  m_flagB = flag;
  return S_OK;
}

STDMETHODIMP CPowerDownContext::GetInProgress(short* inProgress) {
  if (!inProgress) return kInvalidAddress;
  std::lock_guard guard(*this);
  *inProgress = m_inProgress;
  return S_OK;
}

STDMETHODIMP CPowerDownContext::MarkInProgress() {
  std::lock_guard guard(*this);
  m_inProgress = VARIANT_TRUE;
  return S_OK;
}

STDMETHODIMP CPowerDownContext::Reserved() { return S_OK; }

// --- Outcome reports ---------------------------------------------------------

STDMETHODIMP CPowerDownContext::Cancel(LONG code) {
  return ReportCancellation("Canceling", &IPowerDownRequest::OnCompleted, code);
}

STDMETHODIMP CPowerDownContext::UserCancel(LONG code) {
  return ReportCancellation("User cancels", &IPowerDownRequest::OnCancelled,
                            code);
}

STDMETHODIMP CPowerDownContext::LogoffFailed(LONG code) {
  return ReportCancellation("Logoff failed for",
                            &IPowerDownRequest::OnLogoffFailed, code);
}

STDMETHODIMP CPowerDownContext::ObserverCancel(LONG code) {
  return ReportCancellation("Observer canceled.",
                            &IPowerDownRequest::OnCancelled, code);
}

STDMETHODIMP CPowerDownContext::Complete() {
  ComPtr<IPowerDownRequest> request = CopyRequest();
  if (!request) return kInvalidAddress;
  ClearInProgress();
  NTarn::ScopedBstr name;
  if (SUCCEEDED(request->GetName(name.Receive()))) {
    NTarn::LogMessage("%T: Successfully completing power down request (%S).\n",
                      name.Get());
  }
  {
    std::lock_guard guard(*this);
    m_outcome = kOutcomeCompleted;
  }
  return request->OnCompleted(0);
}

// The request is called through a reference of the report's own: the call may
// make the request let go of this context.
ComPtr<IPowerDownRequest> CPowerDownContext::CopyRequest() {
  std::lock_guard guard(*this);
  return m_request;
}

void CPowerDownContext::ClearInProgress() {
  std::lock_guard guard(*this);
  m_inProgress = VARIANT_FALSE;
}

HRESULT CPowerDownContext::ReportCancellation(const char* label,
                                              RequestCallback callback,
                                              LONG code) {
  ComPtr<IPowerDownRequest> request = CopyRequest();
  if (!request) return kInvalidAddress;
  ClearInProgress();
  NTarn::ScopedBstr name;
  if (SUCCEEDED(request->GetName(name.Receive()))) {
    WriteCancellationEvent(label, name.Get());
  }
  {
    // A forced logoff goes ahead whatever the users say.
    std::lock_guard guard(*this);
    if (m_logoffAction != kLogoffForce) m_outcome = kOutcomeCancelled;
  }
  return (request.Get()->*callback)(code);
}
