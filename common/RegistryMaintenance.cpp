#include "common/RegistryMaintenance.h"

#include <string>

#include "common/KeySecurity.h"
#include "common/Logging.h"
#include "common/ScopedHandle.h"

namespace NTarn {
namespace {

// Reading and deleting the key (0x30019).
constexpr REGSAM kOpenForDelete = KEY_READ | DELETE;
constexpr DWORD kSubkeyNameChars = 260;

// The ANSI code page forms, as the narrow registry functions convert.
std::wstring ToWide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int length = ::MultiByteToWideChar(
      CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(length > 0 ? static_cast<size_t>(length) : 0, L'\0');
  if (length > 0) {
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                          &wide[0], length);
  }
  return wide;
}

std::string ToAnsi(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int length = ::WideCharToMultiByte(CP_ACP, 0, text.data(),
                                           static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
  std::string ansi(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  if (length > 0) {
    ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                          &ansi[0], length, nullptr, nullptr);
  }
  return ansi;
}

// Whether `name` is still the subkey at `index`.
bool StillListed(HKEY key, DWORD index, const std::wstring& name) {
  wchar_t listed[kSubkeyNameChars];
  DWORD length = kSubkeyNameChars;
  return ::RegEnumKeyExW(key, index, listed, &length, nullptr, nullptr, nullptr,
                         nullptr) == ERROR_SUCCESS &&
         name.compare(0, std::wstring::npos, listed, length) == 0;
}

// The walk runs on wide names: a narrow listing turns a name outside the ANSI
// code page into question marks, which name no key. `path` is the same path
// in the ANSI code page, for the log lines and the security repair.
BOOL DeleteKeyTree(HKEY root, const std::wstring& widePath,
                   const std::string& path) {
  const size_t split = widePath.rfind(L'\\');
  const std::wstring parentPath =
      split == std::wstring::npos ? widePath : widePath.substr(0, split);
  const std::wstring leaf =
      split == std::wstring::npos ? std::wstring() : widePath.substr(split + 1);

  ScopedRegKey parent;
  LSTATUS status =
      ::RegOpenKeyExW(root, parentPath.c_str(), 0, KEY_READ, parent.Receive());
  if (status == ERROR_SUCCESS) {
    ScopedRegKey key;
    if (::RegOpenKeyExW(parent.Get(), leaf.c_str(), 0, kOpenForDelete,
                        key.Receive()) == ERROR_ACCESS_DENIED) {
      ResetSecurity(parent.Get(), ToAnsi(parentPath).c_str(),
                    ToAnsi(leaf).c_str());
      ::RegOpenKeyExW(parent.Get(), leaf.c_str(), 0, kOpenForDelete,
                      key.Receive());
    }
    if (key) {
      if (IsDebugFlagSet(debug_flags::kVerbose)) {
        LogMessage("%T: Registry recursive delete [%s]\n", path.c_str());
      }
      wchar_t name[kSubkeyNameChars];
      DWORD index = 0;
      for (;;) {
        DWORD length = kSubkeyNameChars;
        if (::RegEnumKeyExW(key.Get(), index, name, &length, nullptr, nullptr,
                            nullptr, nullptr) != ERROR_SUCCESS) {
          break;
        }
        const std::wstring child(name, length);
        // A deleted subkey's successor moves into its index; one that could
        // not be deleted, or is listed still, is stepped over.
        if (!DeleteKeyTree(root, widePath + L"\\" + child,
                           path + "\\" + ToAnsi(child)) ||
            StillListed(key.Get(), index, child)) {
          ++index;
        }
      }
      key.Reset();
    }
    status = ::RegDeleteKeyW(parent.Get(), leaf.c_str());
    if (status == ERROR_ACCESS_DENIED) {
      ResetSecurity(parent.Get(), ToAnsi(parentPath).c_str(),
                    ToAnsi(leaf).c_str());
      status = ::RegDeleteKeyW(parent.Get(), leaf.c_str());
    }
  }
  if (status == ERROR_FILE_NOT_FOUND) status = ERROR_SUCCESS;
  if (status != ERROR_SUCCESS) {
    LogMessage("RecurDeleteKey - \"%s\" - %s\n", path.c_str(),
               FormatErrorText(status));
  }
  return status == ERROR_SUCCESS;
}

}  // namespace

BOOL RecurDeleteKey(HKEY root, const char* path) {
  if (!root || !path) return FALSE;
  return DeleteKeyTree(root, ToWide(path), path);
}

}  // namespace NTarn
