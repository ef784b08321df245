// The plug-in DLL, loaded from a path and reached through its exports, as
// the host service loads it.
#pragma once

#include <windows.h>

#include <string>

#include "tools/vplhost/RunReport.h"

namespace vplhost {

// The plug-in's class, as messages and the registry name it.
inline constexpr char kPluginClass[] = "{7FAE74E0-D06E-4A5C-A4BB-5EDF2FB6A893}";

// VplCMgr.dll in the folder of the running program.
std::wstring PluginBesideProgram();

class PluginLibrary {
 public:
  // Loads `path`; a failure is reported and leaves the library unusable.
  // `origin` says why this path, for the message when it does not load.
  PluginLibrary(const std::wstring& path, RunReport& report,
                const std::string& origin = std::string());
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;
  // Unloads the DLL only when it agrees: code of an object or thread still
  // alive must not go from under it.
  ~PluginLibrary();

  bool IsUsable() const { return m_getClassObject && m_canUnloadNow; }
  HMODULE Module() const { return m_module; }
  const std::string& Path() const { return m_path; }
  HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) const {
    return m_getClassObject(clsid, riid, ppv);
  }
  // Reports DllCanUnloadNow; true when the DLL may go.
  bool ReportCanUnloadNow(RunReport& report) const;

 private:
  using GetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID,
                                                          void**);
  using CanUnloadNowFunction = HRESULT(STDAPICALLTYPE*)();

  const std::string m_path;
  HMODULE m_module;
  GetClassObjectFunction m_getClassObject = nullptr;
  CanUnloadNowFunction m_canUnloadNow = nullptr;
};

}  // namespace vplhost
