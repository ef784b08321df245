#include "plugin/registration/Registration.h"

#include <wchar.h>

#include <string>

#include "common/CurrentModule.h"
#include "common/ScopedHandle.h"
#include "common/ScopedThreadLocale.h"
#include "plugin/Module.h"
#include "plugin/registration/ModulePath.h"
#include "plugin/registration/RegistryReplacements.h"
#include "plugin/registration/RegistryScriptResource.h"
#include "plugin/registration/TypeLibRegistration.h"
#include "plugin/resource.h"

namespace registration {
namespace {

using NTarn::ScopedThreadLocale;

using NTarn::ScopedRegKey;

// Everything a registration run needs: the module, its path, the script
// replacements and the classes root that "HKCR" stands for.
class RegistrationContext {
 public:
  HRESULT Open(RegistrationScope scope) {
    m_module = NTarn::GetCurrentModule();
    HRESULT hr = GetModulePath(m_module, &m_path);
    if (FAILED(hr)) return hr;
    hr = Module().AddCommonRGSReplacements(&m_replacements);
    if (FAILED(hr)) return hr;
    m_replacements.Add(L"MODULE", m_path);
    if (scope == RegistrationScope::kMachine) {
      m_classesRoot = HKEY_CLASSES_ROOT;
      return S_OK;
    }
    const LONG error =
        ::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr,
                          REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE,
                          nullptr, m_userClasses.Receive(), nullptr);
    if (error != ERROR_SUCCESS) return HRESULT_FROM_WIN32(error);
    m_classesRoot = m_userClasses.Get();
    return S_OK;
  }

  HRESULT RunScript(UINT id, ScriptAction action) const {
    return RunRegistryScript(m_module, id, action, m_replacements,
                             m_classesRoot);
  }

  const std::wstring& path() const { return m_path; }

 private:
  HMODULE m_module = nullptr;
  std::wstring m_path;
  RegistryReplacements m_replacements;
  ScopedRegKey m_userClasses;
  HKEY m_classesRoot = nullptr;
};

void KeepFirstFailure(HRESULT* first, HRESULT hr) {
  if (SUCCEEDED(*first) && FAILED(hr)) *first = hr;
}

}  // namespace

HRESULT RegisterServer(RegistrationScope scope) {
  // Registration must not depend on the locale of whichever thread runs it
  // (an installer's, a host's): work under the system default.
  ScopedThreadLocale locale(LOCALE_SYSTEM_DEFAULT);
  RegistrationContext context;
  HRESULT hr = context.Open(scope);
  if (FAILED(hr)) return hr;
  hr = context.RunScript(IDR_VPLCMGR, ScriptAction::kRegister);
  for (const ObjectMapEntry* entry = ObjectMap(); SUCCEEDED(hr) && entry->clsid;
       ++entry) {
    hr = context.RunScript(entry->registryScriptId, ScriptAction::kRegister);
  }
  if (FAILED(hr)) return hr;
  return RegisterTypeLibrary(context.path(), scope);
}

HRESULT UnregisterServer(RegistrationScope scope) {
  ScopedThreadLocale locale(LOCALE_SYSTEM_DEFAULT);
  RegistrationContext context;
  HRESULT hr = context.Open(scope);
  if (FAILED(hr)) return hr;
  HRESULT first = S_OK;
  for (const ObjectMapEntry* entry = ObjectMap(); entry->clsid; ++entry) {
    KeepFirstFailure(&first, context.RunScript(entry->registryScriptId,
                                               ScriptAction::kUnregister));
  }
  KeepFirstFailure(&first, UnregisterTypeLibrary(context.path(), scope));
  KeepFirstFailure(&first,
                   context.RunScript(IDR_VPLCMGR, ScriptAction::kUnregister));
  return first;
}

HRESULT InstallServer(BOOL install, const wchar_t* commandLine) {
  // Five characters: the terminator must match too, so "users" is not "user".
  const RegistrationScope scope =
      commandLine && ::_wcsnicmp(commandLine, L"user", 5) == 0
          ? RegistrationScope::kPerUser
          : RegistrationScope::kMachine;
  if (!install) return UnregisterServer(scope);
  const HRESULT hr = RegisterServer(scope);
  if (FAILED(hr)) UnregisterServer(scope);
  return hr;
}

}  // namespace registration
