#include "common/RegistryMaintenance.h"

#include <string>

#include "common/KeySecurity.h"
#include "common/Logging.h"
#include "common/ScopedHandle.h"

namespace {

using NTarn::ScopedRegKey;

// Reading and deleting the key (0x30019).
constexpr REGSAM kOpenForDelete = KEY_READ | DELETE;
constexpr DWORD kSubkeyNameChars = 260;

}  // namespace

BOOL RecurDeleteKey(HKEY root, const char* path) {
  if (!root || !path) return FALSE;
  const std::string fullPath(path);
  const size_t split = fullPath.rfind('\\');
  const std::string parentPath =
      split == std::string::npos ? fullPath : fullPath.substr(0, split);
  const std::string leaf =
      split == std::string::npos ? std::string() : fullPath.substr(split + 1);

  ScopedRegKey parent;
  LSTATUS status =
      ::RegOpenKeyExA(root, parentPath.c_str(), 0, KEY_READ, parent.Receive());
  if (status == ERROR_SUCCESS) {
    ScopedRegKey key;
    if (::RegOpenKeyExA(parent.Get(), leaf.c_str(), 0, kOpenForDelete,
                        key.Receive()) == ERROR_ACCESS_DENIED) {
      ResetSecurity(parent.Get(), parentPath.c_str(), leaf.c_str());
      ::RegOpenKeyExA(parent.Get(), leaf.c_str(), 0, kOpenForDelete,
                      key.Receive());
    }
    if (key) {
      if (IsDebugFlagSet(debug_flags::kVerbose)) {
        LogMessage("%T: Registry recursive delete [%s]\n", path);
      }
      char name[kSubkeyNameChars];
      DWORD index = 0;
      while (::RegEnumKeyA(key.Get(), index, name, kSubkeyNameChars) ==
             ERROR_SUCCESS) {
        const std::string child = fullPath + "\\" + name;
        // A deleted subkey's successor moves into its index; an undeletable
        // one is stepped over.
        if (!RecurDeleteKey(root, child.c_str())) ++index;
      }
      key.Reset();
    }
    status = ::RegDeleteKeyA(parent.Get(), leaf.c_str());
    if (status == ERROR_ACCESS_DENIED) {
      ResetSecurity(parent.Get(), parentPath.c_str(), leaf.c_str());
      status = ::RegDeleteKeyA(parent.Get(), leaf.c_str());
    }
  }
  if (status == ERROR_FILE_NOT_FOUND) status = ERROR_SUCCESS;
  if (status != ERROR_SUCCESS) {
    LogMessage("RecurDeleteKey - \"%s\" - %s\n", path, FormatErrorText(status));
  }
  return status == ERROR_SUCCESS;
}
