// Registry scripts stored in a module as resources of type "REGISTRY".
#pragma once

#include <windows.h>

#include <string>

namespace registration {

class RegistryReplacements;

enum class ScriptAction { kRegister, kUnregister };

// The text of script `id` (UTF-8, an optional byte-order mark dropped).
HRESULT LoadRegistryScriptText(HMODULE module, UINT id, std::wstring* text);

// Loads script `id`, fills in the replacements and registers or unregisters
// it below `classesRoot` (what "HKCR" stands for).
HRESULT RunRegistryScript(HMODULE module, UINT id, ScriptAction action,
                          const RegistryReplacements& replacements,
                          HKEY classesRoot);

}  // namespace registration
