// A per-call WMI connection: initialises COM for its lifetime, connects
// lazily on the first query and again whenever a query names another
// namespace.
#pragma once

#include <windows.h>
#include <wbemcli.h>
#include <wrl/client.h>

#include <string>

namespace NTarn {

class CWbemConnection {
 public:
  CWbemConnection();
  CWbemConnection(const CWbemConnection&) = delete;
  CWbemConnection& operator=(const CWbemConnection&) = delete;
  ~CWbemConnection();

  // Runs a forward-only WQL query in `wmiNamespace` into `enumerator`.
  // Returns E_FAIL without a locator, WBEM_E_INVALID_NAMESPACE for any
  // connection failure, or the security failure. Asked again for a namespace
  // whose connection failed, it returns S_OK and leaves `enumerator` as it
  // was: callers test the enumerator, not only the result.
  HRESULT ExecQuery(const wchar_t* wmiNamespace, const wchar_t* query,
                    Microsoft::WRL::ComPtr<IEnumWbemClassObject>& enumerator);

  bool IsConnected() const { return m_services != nullptr; }

 private:
  HRESULT Connect(const wchar_t* wmiNamespace);

  Microsoft::WRL::ComPtr<IWbemServices> m_services;
  std::wstring m_currentNamespace;
  bool m_comInitialized = false;
};

}  // namespace NTarn
