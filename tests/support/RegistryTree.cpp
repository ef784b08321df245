#include "tests/support/RegistryTree.h"

#include <sddl.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "common/ScopedHandle.h"

namespace vpltest {
namespace {

using NTarn::ScopedLocalMemory;
using NTarn::ScopedRegKey;

void ReadKey(HKEY key, const std::wstring& path,
             std::vector<std::wstring>* lines) {
  lines->push_back(path);
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD nameLength = ARRAYSIZE(name);
    DWORD type = 0;
    BYTE data[4096] = {};
    DWORD dataSize = sizeof(data) - sizeof(wchar_t);
    if (::RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data,
                        &dataSize) != ERROR_SUCCESS) {
      break;
    }
    const std::wstring valueName = nameLength ? name : L"@";
    const std::wstring text =
        type == REG_SZ ? std::wstring(reinterpret_cast<wchar_t*>(data))
                       : L"<type " + std::to_wstring(type) + L">";
    lines->push_back(path + L"|" + valueName + L"=" + text);
  }
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD nameLength = ARRAYSIZE(name);
    if (::RegEnumKeyExW(key, index, name, &nameLength, nullptr, nullptr,
                        nullptr, nullptr) != ERROR_SUCCESS) {
      break;
    }
    ScopedRegKey subkey;
    if (::RegOpenKeyExW(key, name, 0, KEY_READ, subkey.Receive()) !=
        ERROR_SUCCESS) {
      lines->push_back(path + L"\\" + name + L" <unreadable>");
      continue;
    }
    ReadKey(subkey.Get(), path + L"\\" + name, lines);
  }
}

}  // namespace

std::vector<std::wstring> ReadRegistryTree(HKEY root,
                                           const std::wstring& path) {
  std::vector<std::wstring> lines;
  ScopedRegKey key;
  if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.Receive()) !=
      ERROR_SUCCESS) {
    return lines;
  }
  ReadKey(key.Get(), path, &lines);
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::vector<std::wstring> ReadRegistryTrees(
    HKEY root, const std::vector<std::wstring>& paths) {
  std::vector<std::wstring> lines;
  for (const std::wstring& path : paths) {
    std::vector<std::wstring> tree = ReadRegistryTree(root, path);
    lines.insert(lines.end(), tree.begin(), tree.end());
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

bool RegistryKeyExists(HKEY root, const std::wstring& path) {
  ScopedRegKey key;
  return ::RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE,
                         key.Receive()) == ERROR_SUCCESS;
}

void CreateKeyDenyingSetValue(HKEY root, const std::wstring& path) {
  ScopedRegKey key;
  ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0,
                                             KEY_READ | WRITE_DAC, nullptr,
                                             key.Receive(), nullptr));
  ScopedLocalMemory descriptor;
  // Deny KEY_SET_VALUE (0x2) to everyone, allow everything else.
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"D:(D;;0x2;;;WD)(A;;KA;;;WD)", SDDL_REVISION_1, descriptor.Receive(),
      nullptr));
  ASSERT_EQ(ERROR_SUCCESS,
            ::RegSetKeySecurity(key.Get(), DACL_SECURITY_INFORMATION,
                                descriptor.Get()));
}

}  // namespace vpltest
