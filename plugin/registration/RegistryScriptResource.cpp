#include "plugin/registration/RegistryScriptResource.h"

#include "plugin/registration/Registrar.h"
#include "plugin/registration/RegistryScriptParser.h"

namespace registration {

HRESULT LoadRegistryScriptText(HMODULE module, UINT id, std::wstring* text) {
  if (!text) return E_POINTER;
  text->clear();
  HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), L"REGISTRY");
  if (!found) return HRESULT_FROM_WIN32(::GetLastError());
  HGLOBAL loaded = ::LoadResource(module, found);
  const DWORD size = ::SizeofResource(module, found);
  const char* bytes =
      loaded ? static_cast<const char*>(::LockResource(loaded)) : nullptr;
  if (!bytes) return HRESULT_FROM_WIN32(ERROR_RESOURCE_DATA_NOT_FOUND);

  std::string utf8(bytes, size);
  if (utf8.compare(0, 3, "\xEF\xBB\xBF") == 0) utf8.erase(0, 3);
  if (utf8.empty()) return S_OK;
  const int length =
      ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                            static_cast<int>(utf8.size()), nullptr, 0);
  if (length <= 0) return HRESULT_FROM_WIN32(::GetLastError());
  text->resize(length);
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                        static_cast<int>(utf8.size()), &(*text)[0], length);
  return S_OK;
}

HRESULT RunRegistryScript(HMODULE module, UINT id, ScriptAction action,
                          const RegistryReplacements& replacements,
                          HKEY classesRoot) {
  std::wstring text;
  HRESULT hr = LoadRegistryScriptText(module, id, &text);
  if (FAILED(hr)) return hr;
  RegistryScript script;
  hr = RegistryScriptParser(text, replacements).Parse(&script);
  if (FAILED(hr)) return hr;
  const Registrar registrar(classesRoot);
  return action == ScriptAction::kRegister ? registrar.Register(script)
                                           : registrar.Unregister(script);
}

}  // namespace registration
