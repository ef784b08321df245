#include "tools/vplhost/PluginLibrary.h"

#include "tools/vplhost/ConsoleText.h"

namespace vplhost {

std::wstring PluginBesideProgram() {
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  folder.resize(folder.find_last_of(L"\\/") + 1);
  return folder + L"VplCMgr.dll";
}

PluginLibrary::PluginLibrary(const std::wstring& path, RunReport& report,
                             const std::string& origin)
    : m_path(Narrow(path.c_str())), m_module(::LoadLibraryW(path.c_str())) {
  if (!m_module) {
    const DWORD error = ::GetLastError();
    const std::string text = SystemText(error);
    report.Error("vplhost: cannot load " + m_path + origin + ": error " +
                 std::to_string(error) +
                 (text.empty() ? std::string() : " (" + text + ")"));
    return;
  }
  m_getClassObject = reinterpret_cast<GetClassObjectFunction>(
      ::GetProcAddress(m_module, "DllGetClassObject"));
  m_canUnloadNow = reinterpret_cast<CanUnloadNowFunction>(
      ::GetProcAddress(m_module, "DllCanUnloadNow"));
  if (!m_getClassObject || !m_canUnloadNow) {
    report.Error("vplhost: " + m_path +
                 " is not a COM server: it does not export " +
                 (m_getClassObject ? "DllCanUnloadNow" : "DllGetClassObject"));
  }
}

PluginLibrary::~PluginLibrary() {
  if (!m_module) return;
  if (m_canUnloadNow && m_canUnloadNow() != S_OK) return;
  ::FreeLibrary(m_module);
}

bool PluginLibrary::ReportCanUnloadNow(RunReport& report) const {
  const HRESULT unload = m_canUnloadNow();
  report.Line("vplhost: DllCanUnloadNow returned %s\n",
              unload == S_OK ? "S_OK" : "S_FALSE");
  report.CanUnloadNow(unload == S_OK);
  return unload == S_OK;
}

}  // namespace vplhost
