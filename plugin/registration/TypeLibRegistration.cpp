#include "plugin/registration/TypeLibRegistration.h"

#include <oleauto.h>
#include <wrl/client.h>

#include "common/ScopedBstr.h"

namespace registration {
namespace {

using Microsoft::WRL::ComPtr;
using NTarn::ScopedBstr;
using RegisterForUserFunction = HRESULT(WINAPI*)(ITypeLib*, OLECHAR*, OLECHAR*);
using UnregisterForUserFunction = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID,
                                                   SYSKIND);

// The per-user functions exist from Windows Vista SP1 on; look them up so
// that the library still loads where they are missing.
FARPROC FindOleAutomationFunction(const char* name) {
  HMODULE oleaut = ::GetModuleHandleW(L"OLEAUT32.DLL");
  return oleaut ? ::GetProcAddress(oleaut, name) : nullptr;
}

HRESULT LoadTypeLibrary(const std::wstring& modulePath,
                        ComPtr<ITypeLib>* typeLib) {
  return ::LoadTypeLibEx(modulePath.c_str(), REGKIND_NONE,
                         typeLib->ReleaseAndGetAddressOf());
}

// The folder of the library's help file, up to and including its last
// backslash, slash or colon; empty when the library names no help file.
std::wstring HelpDirectory(ITypeLib* typeLib) {
  ScopedBstr helpFile;
  if (FAILED(typeLib->GetDocumentation(-1, nullptr, nullptr, nullptr,
                                       helpFile.Receive())) ||
      helpFile.IsNull()) {
    return std::wstring();
  }
  const std::wstring path(helpFile.Get(), helpFile.Length());
  const size_t separator = path.find_last_of(L"\\/:");
  return separator == std::wstring::npos ? std::wstring()
                                         : path.substr(0, separator + 1);
}

}  // namespace

HRESULT RegisterTypeLibrary(const std::wstring& modulePath,
                            RegistrationScope scope) {
  ComPtr<ITypeLib> typeLib;
  HRESULT hr = LoadTypeLibrary(modulePath, &typeLib);
  if (FAILED(hr)) return hr;
  std::wstring helpDirectory = HelpDirectory(typeLib.Get());
  OLECHAR* help = helpDirectory.empty() ? nullptr : &helpDirectory[0];
  std::wstring path = modulePath;

  if (scope == RegistrationScope::kPerUser) {
    auto registerForUser = reinterpret_cast<RegisterForUserFunction>(
        FindOleAutomationFunction("RegisterTypeLibForUser"));
    if (registerForUser) return registerForUser(typeLib.Get(), &path[0], help);
  }
  return ::RegisterTypeLib(typeLib.Get(), &path[0], help);
}

HRESULT UnregisterTypeLibrary(const std::wstring& modulePath,
                              RegistrationScope scope) {
  ComPtr<ITypeLib> typeLib;
  HRESULT hr = LoadTypeLibrary(modulePath, &typeLib);
  if (FAILED(hr)) return hr;
  TLIBATTR* attributes = nullptr;
  hr = typeLib->GetLibAttr(&attributes);
  if (FAILED(hr)) return hr;
  const TLIBATTR lib = *attributes;
  typeLib->ReleaseTLibAttr(attributes);

  ScopedBstr registeredPath;
  hr = ::QueryPathOfRegTypeLib(lib.guid, lib.wMajorVerNum, lib.wMinorVerNum,
                               lib.lcid, registeredPath.Receive());
  if (hr == TYPE_E_LIBNOTREGISTERED) return S_OK;

  if (scope == RegistrationScope::kPerUser) {
    auto unregisterForUser = reinterpret_cast<UnregisterForUserFunction>(
        FindOleAutomationFunction("UnRegisterTypeLibForUser"));
    if (unregisterForUser) {
      return unregisterForUser(lib.guid, lib.wMajorVerNum, lib.wMinorVerNum,
                               lib.lcid, lib.syskind);
    }
  }
  return ::UnRegisterTypeLib(lib.guid, lib.wMajorVerNum, lib.wMinorVerNum,
                             lib.lcid, lib.syskind);
}

}  // namespace registration
