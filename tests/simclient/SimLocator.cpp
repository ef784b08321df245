#include "tests/simclient/SimLocator.h"

#include <wrl/client.h>

#include "tests/simclient/SimServices.h"

namespace vpltest::sim {
namespace {

bool IsLocalMachine(const std::wstring& machine) {
  if (machine == L"." || _wcsicmp(machine.c_str(), L"localhost") == 0) {
    return true;
  }
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  return ::GetComputerNameW(name, &size) &&
         _wcsicmp(name, machine.c_str()) == 0;
}

// Splits "\\machine\namespace" (either slash); a path without a machine is
// local.
bool SplitPath(const std::wstring& path, std::wstring& machine,
               std::wstring& wmiNamespace) {
  auto isSlash = [](wchar_t c) { return c == L'\\' || c == L'/'; };
  if (path.size() >= 2 && isSlash(path[0]) && isSlash(path[1])) {
    size_t end = 2;
    while (end < path.size() && !isSlash(path[end])) ++end;
    machine = path.substr(2, end - 2);
    wmiNamespace = end < path.size() ? path.substr(end + 1) : std::wstring();
    return !machine.empty();
  }
  machine = L".";
  wmiNamespace = path;
  return true;
}

bool IsClientNamespace(const std::wstring& normalized) {
  return normalized == L"root\\ccm" || normalized.rfind(L"root\\ccm\\", 0) == 0;
}

}  // namespace

SimLocator::SimLocator(std::shared_ptr<SimState> state)
    : m_state(std::move(state)) {}

STDMETHODIMP SimLocator::ConnectServer(const BSTR path, const BSTR user,
                                       const BSTR password, const BSTR locale,
                                       LONG flags, const BSTR authority,
                                       IWbemContext* context,
                                       IWbemServices** services) {
  m_state->Record([&](Recorded& recorded) {
    recorded.connectPath = path ? path : L"";
    recorded.connectHadUser = user != nullptr;
    recorded.connectHadPassword = password != nullptr;
  });
  if (services) *services = nullptr;
  if (const auto failure = m_state->Enter(SimMethod::kConnectServer)) {
    if (!failure->hangMs) return failure->hr;
    // A connection has no time-out: the caller is held until WMI answers.
    m_state->Wait(failure->hangMs);
  }
  if (!services) return WBEM_E_INVALID_PARAMETER;
  std::wstring machine, wmiNamespace;
  if (!path || !SplitPath(path, machine, wmiNamespace)) {
    return WBEM_E_INVALID_NAMESPACE;
  }
  // Another machine cannot be reached: the RPC server is unavailable.
  if (!IsLocalMachine(machine))
    return HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);

  const Scenario& scenario = m_state->GetScenario();
  if (const SimNamespace* held = scenario.FindNamespace(wmiNamespace)) {
    *services = new SimServices(m_state, held);
    return S_OK;
  }
  // The client's namespaces exist only as far as the scenario says.
  const std::wstring normalized = Scenario::Normalize(wmiNamespace);
  if (normalized.empty() || scenario.IsAbsent(normalized) ||
      IsClientNamespace(normalized)) {
    return WBEM_E_INVALID_NAMESPACE;
  }
  Microsoft::WRL::ComPtr<IClassFactory> platform =
      m_state->PlatformLocatorFactory();
  if (!platform) return WBEM_E_INVALID_NAMESPACE;
  Microsoft::WRL::ComPtr<IWbemLocator> locator;
  HRESULT hr = platform->CreateInstance(nullptr, IID_PPV_ARGS(&locator));
  if (FAILED(hr)) return hr;
  return locator->ConnectServer(path, user, password, locale, flags, authority,
                                context, services);
}

}  // namespace vpltest::sim
