// The host's side of one plug-in: the host's services and the plug-in object,
// driven as the service drives it.
#pragma once

#include <windows.h>
#include <wrl/client.h>

#include <optional>
#include <vector>

#include "contract/HostContract.h"
#include "tools/vplhost/HostServices.h"
#include "tools/vplhost/PluginLibrary.h"
#include "tools/vplhost/RunReport.h"

namespace vplhost {

class HostSession {
 public:
  // `idleMilliseconds` is the idle time the host reports, when not the
  // session's own.
  explicit HostSession(RunReport& report,
                       std::optional<DWORD> idleMilliseconds = std::nullopt);
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;
  // As the service does on shut-down: let go of what the plug-in gave us.
  // Releasing the auto-shutdown subscription stops the plug-in's worker
  // thread, which withdraws a request still open.
  ~HostSession();

  // Creates and initialises the plug-in, then prints its details; an exit
  // code.
  int Start(const PluginLibrary& library);
  void Stop();

  // Asks every registered observer once, as before a shut-down; an
  // objection from any of them makes the run's answer an objection.
  int AskObservers(DWORD settingsFlags);
  // Has every registered observer load its settings, as the host does once
  // it has initialised the plug-in.
  void LoadObserverSettings(DWORD settingsFlags);
  // Has every registered observer log its status.
  int LogObserverStatus(DWORD settingsFlags);
  // Plays the host's part in an auto-shutdown run until the administrator
  // stops it.
  int RunAutoshutdown(bool batteryStated);

  // The observers the plug-in registered, for callers that ask them
  // directly.
  std::vector<Microsoft::WRL::ComPtr<IPowerDownObserver>> Observers() const {
    return m_powerDown->Observers();
  }
  IServiceProvider* Services() const { return m_services.Get(); }

 private:
  // Names each observer, loads its settings and hands it to `use`; false
  // when the plug-in registered none.
  template <typename Use>
  bool ForEachObserver(DWORD settingsFlags, Use use);

  RunReport& m_report;
  // Host objects start with no reference; each ComPtr takes the first.
  Microsoft::WRL::ComPtr<PowerDownProvider> m_powerDown;
  Microsoft::WRL::ComPtr<EventBroker> m_broker;
  Microsoft::WRL::ComPtr<TimeSinceLastInputProvider> m_idle;
  Microsoft::WRL::ComPtr<ServiceProvider> m_services;
  Microsoft::WRL::ComPtr<IVesperlinePlugin> m_plugin;
};

}  // namespace vplhost
