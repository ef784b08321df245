// The keys and values a registry script describes, with the rules for taking
// them away again. All keys hang below the classes root ("HKCR" in a script),
// which the registrar maps to the machine's or the user's classes.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace registration {

struct RegistryScriptValue {
  std::wstring name;
  std::wstring data;
};

struct RegistryScriptKey {
  std::wstring name;
  // A shared root such as CLSID: created when missing, never removed.
  bool noRemove = false;
  // Deleted with everything below it before registering, so stale subkeys of
  // an earlier registration go; removed whole on unregistration.
  bool forceRemove = false;
  std::optional<std::wstring> defaultValue;
  std::vector<RegistryScriptValue> values;
  std::vector<RegistryScriptKey> subkeys;
};

using RegistryScript = std::vector<RegistryScriptKey>;

}  // namespace registration
