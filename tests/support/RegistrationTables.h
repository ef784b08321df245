// The keys and values the plug-in's registration writes below a classes root,
// in the form vpltest::ReadRegistryTree gives.
#pragma once

#include <string>
#include <vector>

namespace vpltest {

inline constexpr wchar_t kPluginClsid[] =
    L"{7FAE74E0-D06E-4A5C-A4BB-5EDF2FB6A893}";
inline constexpr wchar_t kPluginAppId[] =
    L"{0D433AD8-6F36-49BC-8D55-B88FFD0D0C6F}";
inline constexpr wchar_t kPluginLibId[] =
    L"{A22E2503-0640-4E15-8C54-FA5390EDE362}";

// The subtrees the registry scripts own (below the AppID and CLSID roots,
// and the two ProgIDs).
inline std::vector<std::wstring> RegisteredPaths() {
  return {std::wstring(L"AppID\\") + kPluginAppId, L"AppID\\VplCMgr.DLL",
          L"VplCMgr.ConfigMgrPlugin.1", L"VplCMgr.ConfigMgrPlugin",
          std::wstring(L"CLSID\\") + kPluginClsid};
}

// Every line of those subtrees after registering the module at `modulePath`,
// sorted.
std::vector<std::wstring> ExpectedRegistration(const std::wstring& modulePath);

}  // namespace vpltest
