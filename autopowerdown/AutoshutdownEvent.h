// Receives the host's auto-shutdown event and answers it by starting the
// auto-shutdown thread; owns that thread and the job detector the thread
// asks about policy refreshes.
#pragma once

#include <windows.h>
#include <servprov.h>
#include <wrl/client.h>

#include <memory>

#include "autopowerdown/AutoshutdownTiming.h"
#include "common/com/ComObject.h"
#include "contract/HostContract.h"

class AutoshutdownThread;
class ISMSJobsDetector;
class PowerStateChangeHandler;
namespace NTarn {
class DecisionRecord;
}

class AutoshutdownEvent : public NTarn::ComObjectRoot,
                          public IAutoshutdownEvent {
 public:
  using InterfaceMap = NTarn::ComInterfaceMap<IAutoshutdownEvent>;

  // Creates the thread.
  HRESULT FinalConstruct();
  // Detaches the power-state handler, stops and joins the thread.
  void FinalRelease();

  // Takes the detector, obtains the host services the thread needs and
  // subscribes a power-state handler for the thread. E_POINTER for a null
  // service provider or detector. Called once, before any event.
  HRESULT AttachHost(IServiceProvider* serviceProvider,
                     std::unique_ptr<ISMSJobsDetector> detector);

  // Where the worker records how each run ended; none until set.
  void SetDecisionRecord(std::shared_ptr<NTarn::DecisionRecord> record);

  // IAutoshutdownEvent: 0x80070420 while the thread runs.
  STDMETHOD(OnAutoshutdown)() override;

 protected:
  explicit AutoshutdownEvent(
      const AutoshutdownTiming& timing = AutoshutdownTiming());
  ~AutoshutdownEvent();

 private:
  HRESULT StartThread();

  const AutoshutdownTiming m_timing;
  // Shared with the running worker, which may outlive the handler.
  std::shared_ptr<ISMSJobsDetector> m_detector;
  std::shared_ptr<AutoshutdownThread> m_thread;
  Microsoft::WRL::ComPtr<PowerStateChangeHandler> m_powerStateHandler;
};
