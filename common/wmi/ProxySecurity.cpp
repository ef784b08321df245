#include "common/wmi/ProxySecurity.h"

#include <objbase.h>
#include <rpcdce.h>

#include <algorithm>
#include <cwchar>

namespace NTarn {
namespace {

constexpr wchar_t kAuthorityPrefix[] = L"NTLMDOMAIN:";
constexpr size_t kAuthorityPrefixLength = 11;
constexpr size_t kMaxDomainLength = 260;

bool IsEmpty(const wchar_t* text) { return !text || !*text; }

}  // namespace

HRESULT SplitDomainUser(const wchar_t* authority, const wchar_t* user,
                        std::wstring& domainOut, std::wstring& userOut) {
  domainOut.clear();
  userOut.clear();
  const size_t authorityLength = authority ? std::wcslen(authority) : 0;
  if (authorityLength > 0 &&
      _wcsnicmp(authority, kAuthorityPrefix, kAuthorityPrefixLength) != 0) {
    return E_INVALIDARG;
  }
  const wchar_t* backslash = user ? std::wcschr(user, L'\\') : nullptr;
  if (authorityLength > kAuthorityPrefixLength) {
    // The domain comes from the authority; a second one in the user name is
    // ambiguous.
    if (backslash) return E_INVALIDARG;
    domainOut.assign(authority + kAuthorityPrefixLength);
    if (user) userOut.assign(user);
    return S_OK;
  }
  if (backslash) {
    const size_t domainLength =
        std::min(static_cast<size_t>(backslash - user), kMaxDomainLength);
    domainOut.assign(user, domainLength);
    userOut.assign(backslash + 1);
    return S_OK;
  }
  if (user) userOut.assign(user);
  return S_OK;
}

HRESULT SetProxySecurity(IUnknown* proxy, const wchar_t* authority,
                         const wchar_t* user, const wchar_t* password,
                         bool authenticate) {
  if (!proxy) return E_INVALIDARG;
  DWORD authenticationLevel = RPC_C_AUTHN_LEVEL_NONE;
  DWORD impersonationLevel = RPC_C_IMP_LEVEL_IDENTIFY;

  if (authenticate &&
      (!IsEmpty(authority) || !IsEmpty(user) || !IsEmpty(password))) {
    std::wstring domainName;
    std::wstring userName;
    HRESULT hr = SplitDomainUser(authority, user, domainName, userName);
    if (FAILED(hr)) return hr;
    std::wstring passwordText = password ? password : L"";

    SEC_WINNT_AUTH_IDENTITY_W identity{};
    identity.User = reinterpret_cast<unsigned short*>(&userName[0]);
    identity.UserLength = static_cast<ULONG>(userName.size());
    identity.Domain = reinterpret_cast<unsigned short*>(&domainName[0]);
    identity.DomainLength = static_cast<ULONG>(domainName.size());
    identity.Password = reinterpret_cast<unsigned short*>(&passwordText[0]);
    identity.PasswordLength = static_cast<ULONG>(passwordText.size());
    identity.Flags = SEC_WINNT_AUTH_IDENTITY_UNICODE;

    DWORD authenticationService = 0;
    DWORD authorisationService = 0;
    DWORD capabilities = 0;
    hr = ::CoQueryProxyBlanket(
        proxy, &authenticationService, &authorisationService, nullptr,
        &authenticationLevel, nullptr, nullptr, &capabilities);
    if (SUCCEEDED(hr)) {
      hr = ::CoSetProxyBlanket(proxy, authenticationService,
                               authorisationService, nullptr,
                               authenticationLevel, RPC_C_IMP_LEVEL_IMPERSONATE,
                               &identity, capabilities);
    }
    return hr;
  }

  if (authenticate) {
    authenticationLevel = RPC_C_AUTHN_LEVEL_PKT;
    impersonationLevel = RPC_C_IMP_LEVEL_IMPERSONATE;
  }
  return ::CoSetProxyBlanket(proxy, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE,
                             nullptr, authenticationLevel, impersonationLevel,
                             nullptr, EOAC_NONE);
}

}  // namespace NTarn
