// Writes the keys and values of a registry script below a classes root, and
// takes them away again.
#pragma once

#include <windows.h>

#include "plugin/registration/RegistryScript.h"

namespace registration {

class Registrar {
 public:
  // `classesRoot` stands for "HKCR" in the script: HKEY_CLASSES_ROOT, the
  // user's Software\Classes, or a test's own key. It is not owned.
  explicit Registrar(HKEY classesRoot) : m_classesRoot(classesRoot) {}

  // Creates every key and sets every value; stops at the first failure and
  // returns it, leaving what was written so far (the caller rolls back).
  HRESULT Register(const RegistryScript& script) const;

  // Removes what the script adds: keys marked NoRemove stay, keys marked
  // ForceRemove go with everything below them, any other key goes once it has
  // no subkeys left (else only the script's values go). Missing keys count as
  // removed. Carries on past failures and returns the first one.
  HRESULT Unregister(const RegistryScript& script) const;

 private:
  static HRESULT RegisterKey(HKEY parent, const RegistryScriptKey& key);
  static HRESULT UnregisterKey(HKEY parent, const RegistryScriptKey& key);
  static HRESULT RemoveValues(HKEY parent, const RegistryScriptKey& key);

  const HKEY m_classesRoot;
};

}  // namespace registration
