// Security settings for a WMI proxy.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <string>

namespace NTarn {

// Splits an "NTLMDOMAIN:<domain>" authority or a "DOMAIN\user" name into
// domain and user. An empty authority and a user without a backslash give no
// domain; other authorities, and a domain given twice, give E_INVALIDARG.
HRESULT SplitDomainUser(const wchar_t* authority, const wchar_t* user,
                        std::wstring& domainOut, std::wstring& userOut);

// Sets the proxy blanket: packet authentication and impersonation when
// `authenticate` is set, with explicit WinNT credentials when any are given;
// otherwise no authentication and identify-level impersonation.
HRESULT SetProxySecurity(IUnknown* proxy, const wchar_t* authority,
                         const wchar_t* user, const wchar_t* password,
                         bool authenticate);

}  // namespace NTarn
