#include "common/wmi/ConnectToNamespace.h"

#include <string>

#include "common/HResultException.h"
#include "common/Logging.h"
#include "common/wmi/BoundedConnect.h"
#include "common/wmi/WbemText.h"

namespace NTarn {
namespace {

bool IsEmpty(const wchar_t* text) { return !text || !*text; }

}  // namespace

void ConnectToNamespace(Microsoft::WRL::ComPtr<IWbemServices>& services,
                        const wchar_t* machine, const wchar_t* wmiNamespace,
                        const wchar_t* user, const wchar_t* password,
                        DWORD authenticationLevel, DWORD impersonationLevel) {
  Microsoft::WRL::ComPtr<IWbemLocator> locator;
  HRESULT hr = ::CoCreateInstance(CLSID_WbemLocator, nullptr,
                                  CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&locator));
  if (FAILED(hr)) ThrowHResult(hr);

  std::wstring path;
  if (machine) {
    path = L"\\\\";
    path += machine;
    path += L"\\";
  }
  if (wmiNamespace) path += wmiNamespace;

  if (IsDebugFlagSet(debug_flags::kVerbose)) {
    LogMessage("%T: Connecting to %s\n", WideToAnsi(path.c_str()).c_str());
  }

  Microsoft::WRL::ComPtr<IWbemServices> connected;
  hr = ConnectServerWithin(locator.Get(), path.c_str(),
                           IsEmpty(user) ? nullptr : user,
                           IsEmpty(password) ? nullptr : password, connected);
  if (FAILED(hr)) ThrowHResult(hr);

  hr = ::CoSetProxyBlanket(connected.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE,
                           nullptr, authenticationLevel, impersonationLevel,
                           nullptr, EOAC_NONE);
  if (FAILED(hr)) ThrowHResult(hr);

  services = std::move(connected);
}

}  // namespace NTarn
