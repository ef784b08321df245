#include "common/wmi/WbemConnection.h"

#include <oleauto.h>

#include <utility>

#include "common/Logging.h"
#include "common/ScopedBstr.h"
#include "common/wmi/BoundedConnect.h"
#include "common/wmi/ProxySecurity.h"
#include "common/wmi/WbemErrors.h"
#include "common/wmi/WbemQuestion.h"
#include "common/wmi/WbemText.h"
#include "common/wmi/WbemTimeout.h"

namespace NTarn {

CWbemConnection::CWbemConnection() {
  const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (FAILED(hr)) {
    LogMessage("%T: Failed to initialize COM library. Error code = %0x\n", hr);
    return;
  }
  m_comInitialized = true;
}

CWbemConnection::~CWbemConnection() {
  // The services must go before COM does.
  m_services.Reset();
  if (m_comInitialized) ::CoUninitialize();
}

HRESULT CWbemConnection::Connect(const wchar_t* wmiNamespace,
                                 CWbemResults& results) {
  Microsoft::WRL::ComPtr<IWbemLocator> locator;
  HRESULT hr = ::CoCreateInstance(CLSID_WbemLocator, nullptr,
                                  CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&locator));
  if (FAILED(hr)) {
    LogMessage("%T: Failed to create IWbemLocator object %s\n",
               GetWbemErrorName(hr));
    return results.Failed(E_FAIL);
  }

  hr = ConnectServerWithin(locator.Get(), wmiNamespace, nullptr, nullptr,
                           m_services);
  if (FAILED(hr)) {
    results.Failed(hr);
    m_services.Reset();
    // A question that has ended says so in its own line.
    if (!WbemQuestionIsOver()) {
      LogMessage("%T: Failed to connect to %ls: %s\n", wmiNamespace,
                 GetWbemErrorName(hr));
    }
    return WBEM_E_INVALID_NAMESPACE;
  }

  hr = SetProxySecurity(m_services.Get(), nullptr, nullptr, nullptr, true);
  if (FAILED(hr)) {
    results.Failed(hr);
    // An unsecured connection is not used: the object counts as unconnected.
    m_services.Reset();
    LogMessage(
        "%T: Failed while setting up COM interface security, %s "
        "Continuing...\n",
        GetWbemErrorName(hr));
    return hr;
  }
  return S_OK;
}

HRESULT CWbemConnection::ExecQuery(const wchar_t* wmiNamespace,
                                   const wchar_t* query,
                                   CWbemResults& results) {
  const std::wstring requested = wmiNamespace ? wmiNamespace : L"";
  HRESULT result = S_OK;
  if (requested != m_currentNamespace) {
    m_currentNamespace = requested;
    m_services.Reset();
    m_providerTimedOut = false;
    result = Connect(requested.c_str(), results);
  }
  if (!m_services) return result;

  results.Reset();
  // A provider that did not answer once will not answer the question's next
  // class name or advertisement either; each would cost another time-out.
  if (m_providerTimedOut) return results.Failed(WbemTimedOut());
  // The callers' failure lines print the thread's COM error object; one left
  // by an earlier call would name the wrong fault.
  ::SetErrorInfo(0, nullptr);
  const ScopedBstr language = MakeBstr(L"WQL");
  const ScopedBstr queryText = MakeBstr(query);
  // A synchronous query returns only once the provider has produced every
  // object, however long that takes; a semisynchronous one returns at once
  // and each object is then waited for within the limit.
  Microsoft::WRL::ComPtr<IEnumWbemClassObject> enumerator;
  HRESULT hr = m_services->ExecQuery(
      language.Get(), queryText.Get(),
      WBEM_FLAG_RETURN_IMMEDIATELY | WBEM_FLAG_FORWARD_ONLY, nullptr,
      &enumerator);
  if (FAILED(hr)) return results.Failed(hr);
  hr = results.Open(std::move(enumerator));
  if (hr == static_cast<HRESULT>(WBEM_E_TIMED_OUT)) m_providerTimedOut = true;
  return hr;
}

}  // namespace NTarn
