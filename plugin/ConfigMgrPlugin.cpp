#include "plugin/ConfigMgrPlugin.h"

#include <memory>
#include <new>
#include <utility>

#include "autopowerdown/AutoshutdownEvent.h"
#include "common/DecisionRecord.h"
#include "common/HostServiceQueries.h"
#include "common/Logging.h"
#include "jobs/SMSJobsDetector.h"
#include "observer/PendingJobsPowerDownObserver.h"

using NTarn::LogMessage;

using Microsoft::WRL::ComPtr;

namespace {
constexpr wchar_t kPluginName[] = L"Vesperline Microsoft ConfigMgr\\SMS Plugin";
constexpr wchar_t kPluginVersion[] = L"6.0.500.167 r134132 (x64)";
}  // namespace

HRESULT CConfigMgrPlugin::CreateInstance(IUnknown* outer, REFIID riid,
                                         void** ppv) {
  return NTarn::CreateComInstance<CConfigMgrPlugin>(outer, riid, ppv);
}

// The host calls this once. A failed step is not undone: what was stored in
// the object stays until it is destroyed, and the host keeps what it was given.
STDMETHODIMP CConfigMgrPlugin::Initialize(IServiceProvider* pServiceProvider) {
  if (!pServiceProvider) return E_POINTER;

  // A second call replaces the provider held from the first.
  HRESULT hr = NTarn::QueryPowerDownProvider(
      pServiceProvider, m_powerDownProvider.ReleaseAndGetAddressOf());
  if (FAILED(hr)) return hr;

  ComPtr<IEventBroker> eventBroker;
  hr = NTarn::QueryEventBroker(pServiceProvider, &eventBroker);
  if (FAILED(hr)) return hr;

  // One record for the observer's answers and the worker's runs; none
  // when it cannot be made, which costs the decisions nothing.
  const std::shared_ptr<NTarn::DecisionRecord> record =
      NTarn::DecisionRecord::ForThisProcess();

  NTarn::ComObject<AutoshutdownEvent>* autoshutdownEvent = nullptr;
  hr = NTarn::ComObject<AutoshutdownEvent>::CreateInstance(&autoshutdownEvent);
  if (FAILED(hr)) return hr;
  hr = autoshutdownEvent->QueryInterface(
      IID_PPV_ARGS(m_autoshutdownEvent.ReleaseAndGetAddressOf()));
  if (FAILED(hr)) {
    delete autoshutdownEvent;
    return hr;
  }

  autoshutdownEvent->SetDecisionRecord(record);
  // The long-lived detector: configured by the handler at each event. A
  // failed allocation is passed on as null, which AttachHost refuses.
  std::unique_ptr<ISMSJobsDetector> detector(new (std::nothrow)
                                                 CSMSJobsDetector(L""));
  hr = autoshutdownEvent->AttachHost(pServiceProvider, std::move(detector));
  if (FAILED(hr)) return hr;
  hr = eventBroker->Subscribe(EVENTID_Autoshutdown, m_autoshutdownEvent.Get());
  if (FAILED(hr)) return hr;

  // The pending-jobs observer, registered with the power-down provider.
  NTarn::ComObject<PendingJobsPowerDownObserver>* observer = nullptr;
  hr =
      NTarn::ComObject<PendingJobsPowerDownObserver>::CreateInstance(&observer);
  if (FAILED(hr)) return hr;
  observer->SetDecisionRecord(record);
  m_observer = observer;
  hr = m_powerDownProvider->RegisterObserver(m_observer.Get());
  if (FAILED(hr)) {
    LogMessage(
        "%T: Failed to register the CM\\SMS pending jobs power down "
        "observer; bailing...\n");
    return hr;
  }

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
