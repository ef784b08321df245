#include "tests/simclient/SimulatedClient.h"

#include <wbemcli.h>
#include <wrl/client.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <stdexcept>

#include "tests/simclient/SimClassFactory.h"
#include "tests/simclient/SimLocator.h"
#include "tests/simclient/SimStatusCodeText.h"

namespace vpltest {
namespace {

std::atomic<bool> g_installed{false};

bool LooksLikeJson(const std::string& text) {
  for (char c : text) {
    if (!std::isspace(static_cast<unsigned char>(c))) return c == '{';
  }
  return false;
}

std::string HexCode(HRESULT hr) {
  char text[16];
  snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

}  // namespace

SimulatedClient::SimulatedClient(const std::string& scenario) {
  sim::Scenario parsed =
      LooksLikeJson(scenario)
          ? sim::Scenario::Parse(scenario, "<inline scenario>")
          : sim::Scenario::Load(scenario);
  // A name the plug-in never reads is most often a misspelling that would
  // silently change the answer.
  for (const std::string& warning : parsed.Warnings())
    fprintf(stderr, "warning: %s\n", warning.c_str());
  Start(std::move(parsed));
}

SimulatedClient::SimulatedClient(sim::Scenario scenario) {
  Start(std::move(scenario));
}

void SimulatedClient::Start(sim::Scenario scenario) {
  m_state = std::make_shared<sim::SimState>(std::move(scenario));
  if (g_installed.exchange(true)) {
    throw std::runtime_error("a simulated client is already installed");
  }
  try {
    Install();
  } catch (...) {
    if (m_locatorCookie) ::CoRevokeClassObject(m_locatorCookie);
    if (m_statusTextCookie) ::CoRevokeClassObject(m_statusTextCookie);
    g_installed = false;
    throw;
  }
}

void SimulatedClient::Install() {
  // The platform's locator, taken before it is replaced, serves the
  // namespaces the scenario leaves alone.
  Microsoft::WRL::ComPtr<IClassFactory> platform;
  if (SUCCEEDED(::CoGetClassObject(CLSID_WbemLocator, CLSCTX_INPROC_SERVER,
                                   nullptr, IID_PPV_ARGS(&platform)))) {
    m_state->SetPlatformLocatorFactory(platform.Get());
  }

  Microsoft::WRL::ComPtr<IClassFactory> locatorFactory(new sim::SimClassFactory(
      m_state, SimMethod::kCreateLocator,
      [](std::shared_ptr<sim::SimState> state) -> IUnknown* {
        return static_cast<IWbemLocator*>(
            new sim::SimLocator(std::move(state)));
      }));
  HRESULT hr = ::CoRegisterClassObject(CLSID_WbemLocator, locatorFactory.Get(),
                                       CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                       &m_locatorCookie);
  if (FAILED(hr)) {
    m_locatorCookie = 0;
    throw std::runtime_error("registering the simulated locator failed: " +
                             HexCode(hr));
  }

  Microsoft::WRL::ComPtr<IClassFactory> statusFactory(new sim::SimClassFactory(
      m_state, SimMethod::kCreateStatusText,
      [](std::shared_ptr<sim::SimState> state) -> IUnknown* {
        return static_cast<IWbemStatusCodeText*>(
            new sim::SimStatusCodeText(std::move(state)));
      }));
  hr = ::CoRegisterClassObject(CLSID_WbemStatusCodeText, statusFactory.Get(),
                               CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                               &m_statusTextCookie);
  if (FAILED(hr)) {
    m_statusTextCookie = 0;
    throw std::runtime_error("registering the simulated status text failed: " +
                             HexCode(hr));
  }
}

SimulatedClient::~SimulatedClient() {
  ::CoRevokeClassObject(m_statusTextCookie);
  ::CoRevokeClassObject(m_locatorCookie);
  m_state->SetPlatformLocatorFactory(nullptr);
  g_installed = false;
}

void SimulatedClient::FailCall(SimMethod method, int call, HRESULT hr,
                               const std::wstring& description) {
  m_state->AddFailure({method, call, hr, description});
}

void SimulatedClient::FailEveryCall(SimMethod method, HRESULT hr,
                                    const std::wstring& description) {
  FailCall(method, 0, hr, description);
}

void SimulatedClient::FailNextWithObject(int call, HRESULT hr) {
  m_state->AddFailure({SimMethod::kNext, call, hr, {}, /*withObject=*/true});
}

void SimulatedClient::TimeOutNext(int call) {
  FailCall(SimMethod::kNext, call, WBEM_S_TIMEDOUT);
}

void SimulatedClient::HangCall(SimMethod method, int call, DWORD milliseconds) {
  m_state->AddFailure({method, call, S_OK, {}, false, milliseconds});
}

void SimulatedClient::SetTimeScale(unsigned scale) {
  m_state->SetTimeScale(scale);
}

DWORD SimulatedClient::WaitedMs() const { return m_state->WaitedMs(); }

void SimulatedClient::SlowEveryObject(DWORD milliseconds) {
  m_state->SetObjectDelay(milliseconds);
}

void SimulatedClient::SetCallCost(DWORD milliseconds) {
  m_state->SetCallCost(milliseconds);
}

void SimulatedClient::SetStatusText(HRESULT hr, const std::wstring& text) {
  m_state->SetStatusText(hr, text);
}

int SimulatedClient::CallCount(SimMethod method) const {
  return m_state->CallCount(method);
}

sim::Recorded SimulatedClient::LastCalls() const {
  return m_state->GetRecorded();
}

long SimulatedClient::LiveObjects() { return sim::LiveObjectCounter().load(); }

}  // namespace vpltest
