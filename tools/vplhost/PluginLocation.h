// Where a run loads the plug-in from: --dll, else where its class is
// registered, else beside vplhost.exe.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "tools/vplhost/CommandLine.h"

namespace vplhost {

// The InprocServer32 path of the plug-in's class, seen through
// HKEY_CLASSES_ROOT as COM sees it (per-user over machine-wide).
std::optional<std::wstring> RegisteredPluginPath();
std::wstring PluginPath(const Options& options);
// Why the plug-in is looked for where it is, for a load failure's message.
std::string PluginOrigin(const Options& options);
// The full path of a loaded module.
std::wstring ModulePath(HMODULE module);

}  // namespace vplhost
