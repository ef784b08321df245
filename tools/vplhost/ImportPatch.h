// Points one entry of a loaded module's import address table at a function
// of vplhost's own, and puts the original back when it goes.
//
// vplhost uses it to let the plug-in see the battery a scenario states: the
// plug-in asks the power manager directly, and the product DLL has, rightly,
// no switch to answer it otherwise. Only the named module's own calls are
// redirected; every other module still reaches the real function.
#pragma once

#include <windows.h>

#include <string>

namespace vplhost {

class ImportPatch {
 public:
  ImportPatch() = default;
  ImportPatch(const ImportPatch&) = delete;
  ImportPatch& operator=(const ImportPatch&) = delete;
  // Restores the original entry; the module must still be loaded.
  ~ImportPatch();

  // Redirects `module`'s import of `function` from `importedDll` (matched
  // without regard to case) to `replacement`. On success `*original` is the
  // function the entry pointed at. Fails with ERROR_PROC_NOT_FOUND when the
  // module does not import it, ERROR_ALREADY_INITIALIZED when this patch is
  // in place already.
  HRESULT Install(HMODULE module, const char* importedDll, const char* function,
                  void* replacement, void** original);
  void Restore();

 private:
  void** m_entry = nullptr;
  void* m_original = nullptr;
};

}  // namespace vplhost
