#include "plugin/registration/Registrar.h"

#include "common/ScopedHandle.h"

namespace registration {
namespace {

using NTarn::ScopedRegKey;

bool IsMissing(LONG error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

HRESULT SetString(HKEY key, const wchar_t* name, const std::wstring& data) {
  const DWORD bytes = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
  return HRESULT_FROM_WIN32(
      ::RegSetValueExW(key, name, 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(data.c_str()), bytes));
}

// Keeps the first failure of a sequence that carries on regardless.
void KeepFirstFailure(HRESULT* first, HRESULT hr) {
  if (SUCCEEDED(*first) && FAILED(hr)) *first = hr;
}

}  // namespace

HRESULT Registrar::Register(const RegistryScript& script) const {
  for (const RegistryScriptKey& key : script) {
    const HRESULT hr = RegisterKey(m_classesRoot, key);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT Registrar::Unregister(const RegistryScript& script) const {
  HRESULT first = S_OK;
  for (const RegistryScriptKey& key : script) {
    KeepFirstFailure(&first, UnregisterKey(m_classesRoot, key));
  }
  return first;
}

HRESULT Registrar::RegisterKey(HKEY parent, const RegistryScriptKey& key) {
  if (key.forceRemove) {
    const LONG error = ::RegDeleteTreeW(parent, key.name.c_str());
    if (error != ERROR_SUCCESS && !IsMissing(error)) {
      return HRESULT_FROM_WIN32(error);
    }
  }
  // Ask only for the rights needed, so that walking through a shared root
  // such as CLSID needs no right to change its values.
  REGSAM access = KEY_QUERY_VALUE;
  if (key.defaultValue || !key.values.empty()) access |= KEY_SET_VALUE;
  if (!key.subkeys.empty()) access |= KEY_CREATE_SUB_KEY;
  ScopedRegKey opened;
  const LONG error = ::RegCreateKeyExW(parent, key.name.c_str(), 0, nullptr,
                                       REG_OPTION_NON_VOLATILE, access, nullptr,
                                       opened.Receive(), nullptr);
  if (error != ERROR_SUCCESS) return HRESULT_FROM_WIN32(error);

  HRESULT hr = S_OK;
  if (key.defaultValue) {
    hr = SetString(opened.Get(), nullptr, *key.defaultValue);
    if (FAILED(hr)) return hr;
  }
  for (const RegistryScriptValue& value : key.values) {
    hr = SetString(opened.Get(), value.name.c_str(), value.data);
    if (FAILED(hr)) return hr;
  }
  for (const RegistryScriptKey& subkey : key.subkeys) {
    hr = RegisterKey(opened.Get(), subkey);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT Registrar::UnregisterKey(HKEY parent, const RegistryScriptKey& key) {
  if (key.forceRemove && !key.noRemove) {
    const LONG error = ::RegDeleteTreeW(parent, key.name.c_str());
    return IsMissing(error) ? S_OK : HRESULT_FROM_WIN32(error);
  }
  ScopedRegKey opened;
  LONG error =
      ::RegOpenKeyExW(parent, key.name.c_str(), 0, KEY_READ, opened.Receive());
  if (IsMissing(error)) return S_OK;
  if (error != ERROR_SUCCESS) return HRESULT_FROM_WIN32(error);

  HRESULT first = S_OK;
  for (const RegistryScriptKey& subkey : key.subkeys) {
    KeepFirstFailure(&first, UnregisterKey(opened.Get(), subkey));
  }
  if (key.noRemove) return first;

  DWORD subkeyCount = 0;
  error = ::RegQueryInfoKeyW(opened.Get(), nullptr, nullptr, nullptr,
                             &subkeyCount, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr);
  opened.Reset();
  if (error != ERROR_SUCCESS) {
    KeepFirstFailure(&first, HRESULT_FROM_WIN32(error));
    return first;
  }
  // A key that others put subkeys under stays; only our values leave it.
  if (subkeyCount != 0) {
    KeepFirstFailure(&first, RemoveValues(parent, key));
    return first;
  }
  error = ::RegDeleteKeyW(parent, key.name.c_str());
  if (error != ERROR_SUCCESS && !IsMissing(error)) {
    KeepFirstFailure(&first, HRESULT_FROM_WIN32(error));
  }
  return first;
}

HRESULT Registrar::RemoveValues(HKEY parent, const RegistryScriptKey& key) {
  if (!key.defaultValue && key.values.empty()) return S_OK;
  ScopedRegKey opened;
  LONG error = ::RegOpenKeyExW(parent, key.name.c_str(), 0, KEY_SET_VALUE,
                               opened.Receive());
  if (error != ERROR_SUCCESS) return HRESULT_FROM_WIN32(error);
  HRESULT first = S_OK;
  if (key.defaultValue) {
    error = ::RegDeleteValueW(opened.Get(), nullptr);
    if (error != ERROR_SUCCESS && !IsMissing(error)) {
      KeepFirstFailure(&first, HRESULT_FROM_WIN32(error));
    }
  }
  for (const RegistryScriptValue& value : key.values) {
    error = ::RegDeleteValueW(opened.Get(), value.name.c_str());
    if (error != ERROR_SUCCESS && !IsMissing(error)) {
      KeepFirstFailure(&first, HRESULT_FROM_WIN32(error));
    }
  }
  return first;
}

}  // namespace registration
