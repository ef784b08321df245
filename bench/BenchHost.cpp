#include "bench/BenchHost.h"

#include <stdexcept>

#include "common/ScopedBstr.h"
#include "tools/vplhost/RunReport.h"

namespace vplbench {
namespace {

std::string Failed(const char* what, HRESULT hr) {
  char text[96];
  snprintf(text, sizeof(text), "%s failed: 0x%08lX", what,
           static_cast<unsigned long>(hr));
  return text;
}

}  // namespace

BenchHost::BenchHost()
    : m_powerDown(new vplhost::PowerDownProvider),
      m_broker(new vplhost::EventBroker),
      m_idle(new vplhost::TimeSinceLastInputProvider(60000)),
      m_services(new vplhost::ServiceProvider(m_powerDown.Get(), m_broker.Get(),
                                              m_idle.Get())) {
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dll(path, length);
  dll.resize(dll.find_last_of(L"\\/") + 1);
  dll += L"VplCMgr.dll";
  m_module = ::LoadLibraryW(dll.c_str());
  if (!m_module) throw std::runtime_error("VplCMgr.dll does not load");
  m_getClassObject = reinterpret_cast<decltype(m_getClassObject)>(
      ::GetProcAddress(m_module, "DllGetClassObject"));
  m_canUnloadNow = reinterpret_cast<decltype(m_canUnloadNow)>(
      ::GetProcAddress(m_module, "DllCanUnloadNow"));
  try {
    if (!m_getClassObject || !m_canUnloadNow)
      throw std::runtime_error("VplCMgr.dll is not a COM server");
    Start();
  } catch (...) {
    Release();
    throw;
  }
}

BenchHost::~BenchHost() { Release(); }

void BenchHost::Start() {
  // The host's own lines ("observer registered") go to a report nobody
  // prints, so that they do not break up the tables.
  vplhost::RunReport quiet(true, "bench");
  vplhost::RunReport::SetCurrent(&quiet);
  Microsoft::WRL::ComPtr<IClassFactory> factory;
  HRESULT hr = m_getClassObject(CLSID_ConfigMgrPlugin, IID_PPV_ARGS(&factory));
  if (SUCCEEDED(hr))
    hr = factory->CreateInstance(nullptr, IID_PPV_ARGS(&m_plugin));
  if (SUCCEEDED(hr)) hr = m_plugin->Initialize(m_services.Get());
  vplhost::RunReport::SetCurrent(nullptr);
  if (FAILED(hr)) throw std::runtime_error(Failed("starting the plug-in", hr));
  const auto observers = m_powerDown->Observers();
  if (observers.size() != 1)
    throw std::runtime_error("the plug-in registered no single observer");
  m_observer = observers.front();
  hr = LoadSettings();
  if (FAILED(hr)) throw std::runtime_error(Failed("LoadSettings", hr));
}

void BenchHost::Release() {
  m_observer.Reset();
  if (m_plugin) m_plugin->Uninitialize();
  m_plugin.Reset();
  if (m_broker) m_broker->ReleaseAll();
  if (m_powerDown) m_powerDown->ReleaseAll();
  m_services.Reset();
  m_idle.Reset();
  m_broker.Reset();
  m_powerDown.Reset();
  // The plug-in's code stays while any of its objects might remain.
  if (m_module && m_canUnloadNow && m_canUnloadNow() == S_OK) {
    ::FreeLibrary(m_module);
  }
  m_module = nullptr;
}

HRESULT BenchHost::LoadSettings() { return m_observer->LoadSettings(0); }

PowerDownResponse BenchHost::Ask() {
  PowerDownResponse response = PowerDownResponse_NoObjection;
  NTarn::ScopedBstr reason;
  const HRESULT hr =
      m_observer->QueryPowerDown(m_services.Get(), &response, reason.Receive());
  if (FAILED(hr)) throw std::runtime_error(Failed("QueryPowerDown", hr));
  return response;
}

}  // namespace vplbench
