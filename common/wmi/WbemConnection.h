// A per-call WMI connection: initialises COM for its lifetime, connects
// lazily on the first query and again whenever a query names another
// namespace.
#pragma once

#include <windows.h>
#include <wbemcli.h>
#include <wrl/client.h>

#include <string>

#include "common/wmi/WbemResults.h"

namespace NTarn {

class CWbemConnection {
 public:
  CWbemConnection();
  CWbemConnection(const CWbemConnection&) = delete;
  CWbemConnection& operator=(const CWbemConnection&) = delete;
  ~CWbemConnection();

  // Runs a semisynchronous forward-only WQL query in `wmiNamespace` into
  // `results`, so that no wait for the provider is longer than
  // kWbemCallTimeoutMs. Returns E_FAIL without a locator,
  // WBEM_E_INVALID_NAMESPACE for any connection failure, the security
  // failure, or the query's own failure, which arrives with its first object
  // (WBEM_E_TIMED_OUT when that never came). Asked again for a namespace
  // whose connection failed, it returns S_OK and leaves `results` as they
  // were: callers test the results, not only the result. Once a query has
  // timed out, later ones in the same namespace return WBEM_E_TIMED_OUT at
  // once, so that a hung provider costs a question one time-out. A failure's
  // text, for the caller's line, is `results.FailureText()`.
  HRESULT ExecQuery(const wchar_t* wmiNamespace, const wchar_t* query,
                    CWbemResults& results);

  bool IsConnected() const { return m_services != nullptr; }

 private:
  HRESULT Connect(const wchar_t* wmiNamespace, CWbemResults& results);

  Microsoft::WRL::ComPtr<IWbemServices> m_services;
  std::wstring m_currentNamespace;
  bool m_providerTimedOut = false;
  bool m_comInitialized = false;
};

}  // namespace NTarn
