// Listens to the host's power-state changes for the auto-shutdown thread: it
// remembers which kind of power-down the machine last went into, and on the
// state that follows a power-down stops a still-running worker and hands it
// that kind for its next run.
//
// The host keeps the handler subscribed for as long as it likes; the
// auto-shutdown handler detaches the thread when it goes, and a later call
// gets E_POINTER.
#pragma once

#include <windows.h>

#include <memory>

#include "common/com/ComObject.h"
#include "contract/HostContract.h"

class AutoshutdownThread;

class PowerStateChangeHandler : public NTarn::ComObjectRoot,
                                public IPowerStateChangeEvent {
 public:
  using InterfaceMap = NTarn::ComInterfaceMap<IPowerStateChangeEvent>;

  // Power states, as the host reports them.
  static constexpr LONG kStateAfterType5 = 3;
  static constexpr LONG kStateAfterType4 = 4;
  static constexpr LONG kStatePoweredDown = 5;

  // IPowerStateChangeEvent
  STDMETHOD(OnPowerStateChange)(LONG powerState) override;

  // E_POINTER for no thread.
  HRESULT AttachThread(const std::shared_ptr<AutoshutdownThread>& thread);
  void DetachThread();

 protected:
  PowerStateChangeHandler() = default;
  ~PowerStateChangeHandler() = default;

 private:
  // Not an owner: a call in progress holds the thread for its duration.
  std::weak_ptr<AutoshutdownThread> m_thread;
  int m_rememberedPowerDownType = 1;
};
