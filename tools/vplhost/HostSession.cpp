#include "tools/vplhost/HostSession.h"

#include "common/ScopedBstr.h"
#include "tools/vplhost/AutoshutdownConsole.h"
#include "tools/vplhost/ConsoleText.h"
#include "tools/vplhost/ExitCode.h"

using Microsoft::WRL::ComPtr;

namespace vplhost {
namespace {

void PrintResult(RunReport& report, const char* what, HRESULT hr) {
  report.Line("vplhost: %s returned 0x%08lx\n", what,
              static_cast<unsigned long>(hr));
}

}  // namespace

HostSession::HostSession(RunReport& report,
                         std::optional<DWORD> idleMilliseconds)
    : m_report(report),
      m_powerDown(new PowerDownProvider),
      m_broker(new EventBroker),
      m_idle(new TimeSinceLastInputProvider(idleMilliseconds)),
      m_services(new ServiceProvider(m_powerDown.Get(), m_broker.Get(),
                                     m_idle.Get())) {}

HostSession::~HostSession() {
  m_plugin.Reset();
  m_broker->ReleaseAll();
  m_powerDown->ReleaseAll();
}

int HostSession::Start(const PluginLibrary& library) {
  const auto cannotCreate = [&](const char* call, HRESULT hr) {
    m_report.Error("vplhost: " + library.Path() + " cannot create class " +
                   kPluginClass + ": " + call + " returned " + HResultText(hr));
    return kExitPlugin;
  };
  ComPtr<IClassFactory> factory;
  HRESULT hr =
      library.GetClassObject(CLSID_ConfigMgrPlugin, IID_PPV_ARGS(&factory));
  if (SUCCEEDED(hr) && !factory) hr = E_POINTER;
  if (FAILED(hr)) return cannotCreate("DllGetClassObject", hr);
  hr = factory->CreateInstance(nullptr, IID_PPV_ARGS(&m_plugin));
  if (SUCCEEDED(hr) && !m_plugin) hr = E_POINTER;
  if (FAILED(hr)) return cannotCreate("CreateInstance", hr);

  PrintResult(m_report, "Initialize", m_plugin->Initialize(m_services.Get()));

  NTarn::ScopedBstr name;
  NTarn::ScopedBstr version;
  if (SUCCEEDED(
          m_plugin->GetPluginDetails(name.Receive(), version.Receive()))) {
    m_report.Line("vplhost: plug-in \"%s\", version \"%s\"\n",
                  Narrow(name.Get()).c_str(), Narrow(version.Get()).c_str());
    m_report.SetPlugin(Narrow(name.Get()), Narrow(version.Get()));
  }
  return kExitSuccess;
}

void HostSession::Stop() {
  PrintResult(m_report, "Uninitialize", m_plugin->Uninitialize());
  m_plugin.Reset();
}

template <typename Use>
bool HostSession::ForEachObserver(DWORD settingsFlags, Use use) {
  const auto observers = m_powerDown->Observers();
  if (observers.empty()) {
    m_report.Error("vplhost: no power-down observer is registered");
    return false;
  }
  for (const ComPtr<IPowerDownObserver>& observer : observers) {
    NTarn::ScopedBstr name;
    observer->GetObserverName(name.Receive());
    m_report.Line("vplhost: observer \"%s\"\n", Narrow(name.Get()).c_str());
    m_report.Observer(Narrow(name.Get()));
    PrintResult(m_report, "LoadSettings",
                observer->LoadSettings(settingsFlags));
    use(observer.Get());
  }
  return true;
}

int HostSession::AskObservers(DWORD settingsFlags) {
  int result = kExitSuccess;
  const bool any =
      ForEachObserver(settingsFlags, [&](IPowerDownObserver* observer) {
        PowerDownResponse response = PowerDownResponse_NoObjection;
        NTarn::ScopedBstr reason;
        PrintResult(m_report, "QueryPowerDown",
                    observer->QueryPowerDown(m_services.Get(), &response,
                                             reason.Receive()));
        std::optional<std::string> reasonText;
        if (reason.Get()) reasonText = Narrow(reason.Get());
        if (response == PowerDownResponse_Objection) {
          m_report.Line("vplhost: decision: objection (%d), reason \"%s\"\n",
                        static_cast<int>(response),
                        Narrow(reason.Get()).c_str());
          m_report.Decision(response, "objection", reasonText);
          result = kExitObjection;
        } else {
          const char* decision = response == PowerDownResponse_NoObjection
                                     ? "no objection"
                                     : "unknown response";
          m_report.Line("vplhost: decision: %s (%d)\n", decision,
                        static_cast<int>(response));
          m_report.Decision(response, decision, reasonText);
        }
      });
  return any ? result : kExitPlugin;
}

void HostSession::LoadObserverSettings(DWORD settingsFlags) {
  ForEachObserver(settingsFlags, [](IPowerDownObserver*) {});
}

int HostSession::LogObserverStatus(DWORD settingsFlags) {
  const bool any =
      ForEachObserver(settingsFlags, [this](IPowerDownObserver* observer) {
        PrintResult(m_report, "LogStatus", observer->LogStatus());
      });
  return any ? kExitSuccess : kExitPlugin;
}

int HostSession::RunAutoshutdown(bool batteryStated) {
  AutoshutdownConsole console(m_report, m_powerDown.Get(), m_broker.Get(),
                              m_idle.Get(), batteryStated);
  return console.Run();
}

}  // namespace vplhost
