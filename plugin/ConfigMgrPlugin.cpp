#include "plugin/ConfigMgrPlugin.h"

#include "common/Logging.h"

using Microsoft::WRL::ComPtr;

namespace {
constexpr wchar_t kPluginName[] = L"Vesperline Microsoft ConfigMgr\\SMS Plugin";
constexpr wchar_t kPluginVersion[] = L"6.0.500.167 r134132 (x64)";
}  // namespace

HRESULT CConfigMgrPlugin::CreateInstance(IUnknown* outer, REFIID riid,
                                         void** ppv) {
  return CreateComInstance<CConfigMgrPlugin>(outer, riid, ppv);
}

// The host calls this once. A failed step is not undone: what was stored in
// the object stays until it is destroyed, and the host keeps what it was given.
STDMETHODIMP CConfigMgrPlugin::Initialize(IServiceProvider* pServiceProvider) {
  if (!pServiceProvider) return E_POINTER;

  // A second call replaces the provider held from the first.
  HRESULT hr = pServiceProvider->QueryService(
      SID_PowerDownProvider, IID_PPV_ARGS(&m_powerDownProvider));
  if (FAILED(hr)) {
    NTarn::LogMessage(
        "%T: Power down provider has not been registered with the service "
        "provider; bailing...\n");
    return hr;
  }

  ComPtr<IEventBroker> eventBroker;
  hr = pServiceProvider->QueryService(SID_EventBroker,
                                      IID_PPV_ARGS(&eventBroker));
  if (FAILED(hr)) {
    NTarn::LogMessage(
        "%T: Failed to query for event broker whilst initializing the CM\\SMS "
        "plugin.\n");
    return hr;
  }

  // Next, once their subsystems exist: create the auto-shutdown handler and
  // the long-lived job detector, let the handler attach to the host, subscribe
  // it to EVENTID_Autoshutdown on `eventBroker`, then create the pending-jobs
  // observer and register it with the power-down provider.

  return S_OK;
}

STDMETHODIMP CConfigMgrPlugin::GetPluginDetails(BSTR* pName, BSTR* pVersion) {
  if (!pName || !pVersion) return E_POINTER;
  // A failed allocation leaves a null string; the call still succeeds.
  *pName = ::SysAllocString(kPluginName);
  *pVersion = ::SysAllocString(kPluginVersion);
  return S_OK;
}

// Nothing is unregistered or released here: the references go when the host
// releases the object.
STDMETHODIMP CConfigMgrPlugin::Uninitialize() { return S_OK; }
