// The plug-in's request to the host to power the machine down: it reads the
// power-down settings, fills its context, hands the context to the host and,
// when retries are configured, arms a waitable timer for the next attempt and
// records the planned time in the registry.
//
// The auto-shutdown thread issues the attempts; the host reports back through
// the context on its own threads, also while an attempt is being made. The
// counters, the context reference and the timer change only under the
// object's lock, and a completion or abort that arrives during an attempt
// wins: the attempt then neither counts nor arms the timer again.
//
// The request and its context refer to each other while an attempt is open.
// The context's reference keeps the request alive for as long as the host
// can reach it; the thread lets go of the context when it is done with the
// request (ReleaseContext), so both are freed once the host has let go too.
#pragma once

#include <windows.h>
#include <wrl/client.h>

#include "common/ScopedHandle.h"
#include "common/com/ComObject.h"
#include "contract/HostContract.h"

class AutoPowerdownRequest : public NTarn::ComObjectRoot,
                             public IPowerDownRequest {
 public:
  using InterfaceMap = NTarn::ComInterfaceMap<IPowerDownRequest>;

  // Creates the retry timer.
  HRESULT FinalConstruct();

  // IPowerDownRequest
  STDMETHOD(GetName)(BSTR* name) override;
  STDMETHOD(GetRetryCount)(int* retryCount) override;
  STDMETHOD(IsAutomatic)(VARIANT_BOOL* automatic) override;
  STDMETHOD(IsInProgress)(VARIANT_BOOL* inProgress) override;
  STDMETHOD(IsLastAttempt)(VARIANT_BOOL* lastAttempt) override;
  STDMETHOD(IsExhausted)(VARIANT_BOOL* exhausted) override;
  // Ends the cycle: E_FAIL when no attempt was made (and none is being made).
  STDMETHOD(OnCompleted)(LONG code) override;
  STDMETHOD(OnCancelled)(LONG code) override;
  STDMETHOD(OnLogoffFailed)(LONG code) override;
  // Submits the current attempt with the context as it is. E_FAIL when the
  // context is not valid (after withdrawing it) and when the attempts have
  // run out.
  STDMETHOD(Submit)(IPowerDownProvider* provider) override;
  STDMETHOD(Reserved)() override;
  STDMETHOD(LogTrigger)() override;
  STDMETHOD(Abort)() override;

  // One attempt: reads the settings, fills the context (creating it on the
  // first attempt) and submits it.
  HRESULT IssueRequest(IPowerDownProvider* provider, int powerDownType);

  // Signals when the next attempt is due.
  HANDLE RetryTimer() const { return m_retryTimer.Get(); }

  // Whether the last submission was a real one that used up the attempts:
  // its power-down is under way and must not be withdrawn.
  bool SubmissionExhaustedAttempts();

  // Lets go of the context, if the request still holds one, and hands it to
  // the caller (to withdraw it).
  Microsoft::WRL::ComPtr<IPowerDownContext> ReleaseContext();

 protected:
  // `retryTimerMinute` is one minute of "RetryInterval" in 100-ns units.
  explicit AutoPowerdownRequest(ULONGLONG retryTimerMinute);
  ~AutoPowerdownRequest();

 private:
  // Marks an attempt in progress for its lifetime.
  class AttemptScope;

  HRESULT IssueAttempt(IPowerDownProvider* provider, int powerDownType);
  HRESULT SubmitAttempt(IPowerDownProvider* provider,
                        IPowerDownContext* context);
  // Sets the timer for the attempt after attempt `retryCount`, on the grid
  // that started with the first attempt of the cycle.
  void ArmRetryTimer(DWORD retryCount, DWORD intervalMinutes);
  // The host ended the cycle: back to idle, the timer off, the context let
  // go. An attempt being made meanwhile neither counts nor arms the timer.
  void EndCycleFromHost();

  const ULONGLONG m_retryTimerMinute;
  NTarn::ScopedHandle m_retryTimer;
  DWORD m_currentRetryCount = 0;
  DWORD m_maxRetryAttempts = 0;
  DWORD m_retryIntervalMins = 0;
  // Whether the two values above came from the policy key.
  bool m_maxRetryAttemptsFromPolicy = false;
  bool m_retryIntervalFromPolicy = false;
  // Never set; shown by LogTrigger.
  int m_shutdownDays = 0;
  int m_shutdownHour = 0;
  int m_shutdownMins = 0;
  Microsoft::WRL::ComPtr<IPowerDownContext> m_context;
  // Attempts being made (IssueRequest and Submit nest), and whether the host
  // ended the cycle meanwhile.
  int m_attemptDepth = 0;
  bool m_endedDuringAttempt = false;
  bool m_exhaustedBySubmission = false;
};
