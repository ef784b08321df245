#include "tools/vplhost/PluginLocation.h"

#include "tools/vplhost/PluginLibrary.h"

namespace vplhost {

std::optional<std::wstring> RegisteredPluginPath() {
  wchar_t path[MAX_PATH * 2];
  DWORD size = sizeof(path);
  const LSTATUS status = ::RegGetValueW(
      HKEY_CLASSES_ROOT,
      L"CLSID\\{7FAE74E0-D06E-4A5C-A4BB-5EDF2FB6A893}\\InprocServer32", nullptr,
      RRF_RT_REG_SZ, nullptr, path, &size);
  if (status != ERROR_SUCCESS) return std::nullopt;
  return std::wstring(path);
}

std::wstring PluginPath(const Options& options) {
  if (options.dll) return *options.dll;
  if (const auto registered = RegisteredPluginPath()) return *registered;
  return PluginBesideProgram();
}

std::string PluginOrigin(const Options& options) {
  if (options.dll) return std::string();
  if (RegisteredPluginPath())
    return std::string(", where class ") + kPluginClass + " is registered";
  return std::string(" beside vplhost.exe: class ") + kPluginClass +
         " is not registered";
}

std::wstring ModulePath(HMODULE module) {
  wchar_t path[MAX_PATH * 2];
  const DWORD length = ::GetModuleFileNameW(module, path, MAX_PATH * 2);
  return std::wstring(path, length);
}

}  // namespace vplhost
