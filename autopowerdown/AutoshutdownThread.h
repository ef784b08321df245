// The worker that answers the host's auto-shutdown event: it keeps the
// machine awake while the ConfigMgr client refreshes its machine policy and
// generates the jobs it brings, gives up as soon as a user touches the
// machine, and then asks the host to power down, serving the request's
// retries until the request ends or the thread is stopped.
//
// Starting and stopping happen on host threads. A start is reserved and made
// under the thread's state lock, and a power-state stop holds off new starts
// until it has joined the worker and handed over the power-down type, so that
// at most one worker runs and a worker never sees the type change.
#pragma once

#include <windows.h>
#include <wrl/client.h>

#include <memory>

#include "autopowerdown/AutoPowerDownOutcome.h"
#include "autopowerdown/AutoshutdownTiming.h"
#include "autopowerdown/StoppableThread.h"
#include "contract/HostContract.h"

class ISMSJobsDetector;
namespace NTarn {
class DecisionRecord;
}

class AutoshutdownThread : public StoppableThread {
 public:
  explicit AutoshutdownThread(const AutoshutdownTiming& timing);
  // Stops and joins the worker.
  ~AutoshutdownThread() override;

  // The host's services, from AttachHost.
  void SetTimeSinceLastInputProvider(
      Microsoft::WRL::ComPtr<ITimeSinceLastInputProvider> provider);
  void SetPowerDownProvider(
      Microsoft::WRL::ComPtr<IPowerDownProvider> provider);
  // Where the end of every run is recorded; none until set.
  void SetDecisionRecord(std::shared_ptr<NTarn::DecisionRecord> record);

  // The first half of a start: refuses with 0x80070420 while a worker runs,
  // another start is reserved or a power-state stop is under way.
  HRESULT ReserveStart();
  // The second half: starts the worker on `detector`, which the thread
  // shares until it is started again or destroyed. On failure the
  // reservation stays until CancelReservedStart.
  HRESULT StartReserved(std::shared_ptr<ISMSJobsDetector> detector);
  void CancelReservedStart();

  // The power state after a power-down: stops a running worker, then hands
  // it the power-down type for its next run. On the worker's own thread (the
  // host reporting from inside its request) it only asks the worker to stop.
  void StopAndSetPowerDownType(int powerDownType);
  int PowerDownType();

  unsigned Run() override;
  // Phase 1: whether the power-down may go ahead.
  HRESULT WaitForPolicyJobs(bool* goAhead);
  // Phase 2: the request and its retries.
  HRESULT RunPowerDownRequests();

 private:
  struct Services {
    Microsoft::WRL::ComPtr<ITimeSinceLastInputProvider> timeSinceLastInput;
    Microsoft::WRL::ComPtr<IPowerDownProvider> powerDownProvider;
    std::shared_ptr<ISMSJobsDetector> detector;
    std::shared_ptr<NTarn::DecisionRecord> record;
  };
  Services CopyServices();
  // The run's end, as m_outcome says, with the window of its detector.
  void RecordOutcome() noexcept;

  const AutoshutdownTiming m_timing;
  Microsoft::WRL::ComPtr<ITimeSinceLastInputProvider> m_timeSinceLastInput;
  Microsoft::WRL::ComPtr<IPowerDownProvider> m_powerDownProvider;
  // The handler's detector, set at each start.
  std::shared_ptr<ISMSJobsDetector> m_detector;
  std::shared_ptr<NTarn::DecisionRecord> m_record;
  // How the current run ends; written by the worker alone.
  AutoPowerDownOutcome m_outcome = AutoPowerDownOutcome::kComFailed;
  int m_powerDownType = 1;
  bool m_startReserved = false;
  int m_stopsUnderWay = 0;
};
