// The host's side of the benchmark: VplCMgr.dll loaded from beside the
// program and reached through its exports, as the host service loads it,
// initialised with vplhost's stand-ins for the host's services.
#pragma once

#include <windows.h>
#include <wrl/client.h>

#include <memory>

#include "contract/HostContract.h"
#include "tools/vplhost/HostSession.h"
#include "tools/vplhost/PluginLibrary.h"
#include "tools/vplhost/RunReport.h"

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
  // The host's own lines ("observer registered") go to a report nobody
  // prints, so that they do not break up the tables.
  vplhost::RunReport m_quiet{true, "bench"};
  std::unique_ptr<vplhost::PluginLibrary> m_library;
  std::unique_ptr<vplhost::HostSession> m_session;
  Microsoft::WRL::ComPtr<IPowerDownObserver> m_observer;
};

}  // namespace vplbench
