// The context handed to the host with each power-down request: the request's
// parameters for the host, and the way back through which the host reports
// how the request ended. Host threads read it while the auto-shutdown thread
// refills it before a retry, so every field is read and written under the
// object's lock.
#pragma once

#include <windows.h>
#include <wrl/client.h>

#include "common/ScopedBstr.h"
#include "common/com/ComObject.h"
#include "contract/HostContract.h"

// What happens to logged-on users when the machine powers down.
enum LogoffAction : int {
  kLogoffNever = 0,
  kLogoffPassive = 1,
  kLogoffActive = 2,
  kLogoffForce = 3,
};

// How the request ended, as the host reported it.
enum PowerDownOutcome : int {
  kOutcomeOpen = 1,
  kOutcomeCancelled = 2,
  kOutcomeCompleted = 3,
};

// "NEVER", "PASSIVE", "ACTIVE" or "FORCE", compared without regard to case.
// Any other text is logged as not valid and read as NEVER.
int LogoffActionFromText(const wchar_t* text);
// The text of a logoff action; "NEVER" for any code but 1, 2 and 3.
const wchar_t* LogoffActionToText(int action);

class CPowerDownContext : public NTarn::ComObjectRoot,
                          public IPowerDownContext {
 public:
  using InterfaceMap = NTarn::ComInterfaceMap<IPowerDownContext>;

  // IPowerDownContext. A null out-parameter gives 0x800701E7 (E_POINTER for
  // GetMessage, as the host expects).
  STDMETHOD(GetPowerDownType)(int* type) override;
  STDMETHOD(PutPowerDownType)(int type) override;
  STDMETHOD(GetLogoffAction)(int* action) override;
  STDMETHOD(PutLogoffAction)(int action) override;
  STDMETHOD(GetFlagA)(short* flag) override;
  STDMETHOD(PutFlagA)(short flag) override;
  // Hands out the owning request without adding a reference: the context's
  // own reference keeps it alive while the caller holds the context.
  STDMETHOD(GetRequest)(IPowerDownRequest** request) override;
  STDMETHOD(PutRequest)(IPowerDownRequest* request) override;
  STDMETHOD(GetCountdownSecs)(int* seconds) override;
  STDMETHOD(PutCountdownSecs)(int seconds) override;
  // A new copy; E_POINTER when no message is set.
  STDMETHOD(GetMessage)(BSTR* message) override;
  // Stores a copy; null clears the message, the pointer already held changes
  // nothing.
  STDMETHOD(PutMessage)(BSTR message) override;
  STDMETHOD(GetOutcome)(int* outcome) override;
  STDMETHOD(PutOutcome)(int outcome) override;
  STDMETHOD(GetFlagB)(short* flag) override;
  STDMETHOD(PutFlagB)(short flag) override;
  STDMETHOD(GetInProgress)(short* inProgress) override;
  STDMETHOD(MarkInProgress)() override;
  // Outcome reports: each is logged, a cancellation also written to the event
  // log, and then forwarded to the request. 0x800701E7 without a request.
  STDMETHOD(Cancel)(LONG code) override;
  STDMETHOD(Complete)() override;
  STDMETHOD(UserCancel)(LONG code) override;
  STDMETHOD(LogoffFailed)(LONG code) override;
  STDMETHOD(ObserverCancel)(LONG code) override;
  STDMETHOD(Reserved)() override;

 protected:
  CPowerDownContext() = default;
  ~CPowerDownContext() = default;

 private:
  using RequestCallback =
      HRESULT (STDMETHODCALLTYPE IPowerDownRequest::*)(LONG code);

  Microsoft::WRL::ComPtr<IPowerDownRequest> CopyRequest();
  void ClearInProgress();
  HRESULT ReportCancellation(const char* label, RequestCallback callback,
                             LONG code);

  int m_powerDownType = 0;
  int m_logoffAction = kLogoffNever;
  short m_flagA = 0;
  Microsoft::WRL::ComPtr<IPowerDownRequest> m_request;
  NTarn::ScopedBstr m_message;
  int m_countdownSecs = 0;
  int m_outcome = kOutcomeOpen;
  short m_flagB = 0;
  short m_inProgress = VARIANT_FALSE;
};
