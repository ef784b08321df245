// The host's side of the benchmark: VplCMgr.dll loaded from beside the
// program and reached through its exports, as the host service loads it,
// initialised with vplhost's stand-ins for the host's services.
#pragma once

#include <windows.h>
#include <wrl/client.h>

#include <string>

#include "plugin/HostContract.h"
#include "tools/vplhost/HostServices.h"

namespace vplbench {

class BenchHost {
 public:
  // Loads, creates and initialises the plug-in; throws std::runtime_error
  // naming the step that failed. COM must be initialised on this thread.
  BenchHost();
  BenchHost(const BenchHost&) = delete;
  BenchHost& operator=(const BenchHost&) = delete;
  // Lets go of the plug-in as the service does on shut-down, then of the DLL.
  ~BenchHost();

  // Has the registered observer read its settings again.
  HRESULT LoadSettings();
  // One power-down question to the registered observer.
  PowerDownResponse Ask();

 private:
  void Start();
  void Release();

  HMODULE m_module = nullptr;
  HRESULT(STDAPICALLTYPE* m_getClassObject)(REFCLSID, REFIID, void**) = nullptr;
  HRESULT(STDAPICALLTYPE* m_canUnloadNow)() = nullptr;
  Microsoft::WRL::ComPtr<vplhost::PowerDownProvider> m_powerDown;
  Microsoft::WRL::ComPtr<vplhost::EventBroker> m_broker;
  Microsoft::WRL::ComPtr<vplhost::TimeSinceLastInputProvider> m_idle;
  Microsoft::WRL::ComPtr<vplhost::ServiceProvider> m_services;
  Microsoft::WRL::ComPtr<IVesperlinePlugin> m_plugin;
  Microsoft::WRL::ComPtr<IPowerDownObserver> m_observer;
};

}  // namespace vplbench
