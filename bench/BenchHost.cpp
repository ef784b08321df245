#include "bench/BenchHost.h"

#include <cstdio>
#include <stdexcept>
#include <string>

#include "common/ScopedBstr.h"
#include "tools/vplhost/ExitCode.h"

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
    : m_library(std::make_unique<vplhost::PluginLibrary>(
          vplhost::PluginBesideProgram(), m_quiet)) {
  if (!m_library->IsUsable())
    throw std::runtime_error(
        "VplCMgr.dll does not load or is not a COM server");
  m_session = std::make_unique<vplhost::HostSession>(m_quiet, 60000);
  vplhost::RunReport::SetCurrent(&m_quiet);
  const int started = m_session->Start(*m_library);
  vplhost::RunReport::SetCurrent(nullptr);
  if (started != vplhost::kExitSuccess)
    throw std::runtime_error("the plug-in cannot be created");
  const auto observers = m_session->Observers();
  if (observers.size() != 1)
    throw std::runtime_error("the plug-in registered no single observer");
  m_observer = observers.front();
  const HRESULT hr = LoadSettings();
  if (FAILED(hr)) throw std::runtime_error(Failed("LoadSettings", hr));
}

// The session goes before the library, which unloads the DLL only when it
// agrees.
BenchHost::~BenchHost() {
  m_observer.Reset();
  vplhost::RunReport::SetCurrent(&m_quiet);
  m_session->Stop();
  m_session.reset();
  vplhost::RunReport::SetCurrent(nullptr);
}

HRESULT BenchHost::LoadSettings() { return m_observer->LoadSettings(0); }

PowerDownResponse BenchHost::Ask() {
  PowerDownResponse response = PowerDownResponse_NoObjection;
  NTarn::ScopedBstr reason;
  const HRESULT hr = m_observer->QueryPowerDown(m_session->Services(),
                                                &response, reason.Receive());
  if (FAILED(hr)) throw std::runtime_error(Failed("QueryPowerDown", hr));
  return response;
}

}  // namespace vplbench
