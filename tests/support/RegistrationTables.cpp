#include "tests/support/RegistrationTables.h"

#include <algorithm>

namespace vpltest {

std::vector<std::wstring> ExpectedRegistration(const std::wstring& modulePath) {
  const std::wstring appId = std::wstring(L"AppID\\") + kPluginAppId;
  const std::wstring clsid = std::wstring(L"CLSID\\") + kPluginClsid;
  std::vector<std::wstring> lines = {
      appId,
      appId + L"|@=VplCMgr",
      L"AppID\\VplCMgr.DLL",
      std::wstring(L"AppID\\VplCMgr.DLL|AppID=") + kPluginAppId,
      L"VplCMgr.ConfigMgrPlugin.1",
      L"VplCMgr.ConfigMgrPlugin.1|@=ConfigMgrPlugin Class",
      L"VplCMgr.ConfigMgrPlugin.1\\CLSID",
      std::wstring(L"VplCMgr.ConfigMgrPlugin.1\\CLSID|@=") + kPluginClsid,
      L"VplCMgr.ConfigMgrPlugin",
      L"VplCMgr.ConfigMgrPlugin|@=ConfigMgrPlugin Class",
      L"VplCMgr.ConfigMgrPlugin\\CLSID",
      std::wstring(L"VplCMgr.ConfigMgrPlugin\\CLSID|@=") + kPluginClsid,
      L"VplCMgr.ConfigMgrPlugin\\CurVer",
      L"VplCMgr.ConfigMgrPlugin\\CurVer|@=VplCMgr.ConfigMgrPlugin.1",
      clsid,
      clsid + L"|@=ConfigMgrPlugin Class",
      clsid + L"\\ProgID",
      clsid + L"\\ProgID|@=VplCMgr.ConfigMgrPlugin.1",
      clsid + L"\\VersionIndependentProgID",
      clsid + L"\\VersionIndependentProgID|@=VplCMgr.ConfigMgrPlugin",
      clsid + L"\\Programmable",
      clsid + L"\\InprocServer32",
      clsid + L"\\InprocServer32|@=" + modulePath,
      clsid + L"\\InprocServer32|ThreadingModel=Free",
      clsid + L"\\TypeLib",
      clsid + L"\\TypeLib|@=" + kPluginLibId,
      clsid + L"\\Implemented Categories",
      clsid +
          L"\\Implemented Categories\\{248D1B52-34E7-435b-8A9C-2288F96CD2B5}",
  };
  std::sort(lines.begin(), lines.end());
  return lines;
}

}  // namespace vpltest
