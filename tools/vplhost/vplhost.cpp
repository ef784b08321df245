// vplhost: a console stand-in for the host service. It loads VplCMgr.dll the
// way the service does, offers its services, and drives the plug-in.
//
//   vplhost [path\to\VplCMgr.dll]
//       initialise the plug-in, print its name and version, let it go
//   vplhost query --scenario file.json [--dll path] [--monitor TEXT]
//                 [--window MINUTES] [--verbose]
//       the same against a simulated ConfigMgr client, asking the registered
//       power-down observer once and printing its decision
#include <windows.h>
#include <objbase.h>
#include <wrl/client.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "common/ScopedBstr.h"
#include "common/ScopedHandle.h"
#include "plugin/HostContract.h"
#include "tests/simclient/SimulatedClient.h"
#include "tools/vplhost/HostServices.h"

using Microsoft::WRL::ComPtr;

namespace {

using DllGetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID,
                                                           void**);
using DllCanUnloadNowFunction = HRESULT(STDAPICALLTYPE*)();

constexpr char kSettingsKey[] = "Software\\Tarn\\Vesperline";
// Where a query run keeps its settings instead of the machine's own.
constexpr char kScratchKey[] = "Software\\VplHost\\Settings";

std::wstring DefaultPluginPath() {
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  folder.resize(folder.find_last_of(L"\\/") + 1);
  return folder + L"VplCMgr.dll";
}

std::string Narrow(const wchar_t* text) {
  if (!text) return "(null)";
  const int length =
      ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow.data(), length, nullptr,
                        nullptr);
  narrow.resize(narrow.size() - 1);
  return narrow;
}

int Fail(const char* what, HRESULT hr) {
  printf("vplhost: %s failed: 0x%08lx\n", what, static_cast<unsigned long>(hr));
  return 1;
}

void PrintResult(const char* what, HRESULT hr) {
  printf("vplhost: %s returned 0x%08lx\n", what,
         static_cast<unsigned long>(hr));
}

// The plug-in DLL, loaded from a path and reached through its exports.
class PluginLibrary {
 public:
  explicit PluginLibrary(const std::wstring& path)
      : m_module(::LoadLibraryW(path.c_str())) {
    if (!m_module) {
      printf("vplhost: cannot load %ls: error %lu\n", path.c_str(),
             ::GetLastError());
      return;
    }
    m_getClassObject = reinterpret_cast<DllGetClassObjectFunction>(
        ::GetProcAddress(m_module, "DllGetClassObject"));
    m_canUnloadNow = reinterpret_cast<DllCanUnloadNowFunction>(
        ::GetProcAddress(m_module, "DllCanUnloadNow"));
    if (!m_getClassObject || !m_canUnloadNow) {
      printf("vplhost: %ls is not a COM server\n", path.c_str());
    }
  }
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;
  ~PluginLibrary() {
    if (m_module) ::FreeLibrary(m_module);
  }

  bool IsUsable() const { return m_getClassObject && m_canUnloadNow; }
  HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) const {
    return m_getClassObject(clsid, riid, ppv);
  }
  // Reports DllCanUnloadNow; true when the DLL may go.
  bool ReportCanUnloadNow() const {
    const HRESULT unload = m_canUnloadNow();
    printf("vplhost: DllCanUnloadNow returned %s\n",
           unload == S_OK ? "S_OK" : "S_FALSE");
    return unload == S_OK;
  }

 private:
  HMODULE m_module;
  DllGetClassObjectFunction m_getClassObject = nullptr;
  DllCanUnloadNowFunction m_canUnloadNow = nullptr;
};

// The host's side of one plug-in: its services and the plug-in object.
class HostSession {
 public:
  HostSession()
      : m_powerDown(new vplhost::PowerDownProvider),
        m_broker(new vplhost::EventBroker),
        m_idle(new vplhost::TimeSinceLastInputProvider),
        m_services(new vplhost::ServiceProvider(
            m_powerDown.Get(), m_broker.Get(), m_idle.Get())) {}
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;
  // As the service does on shut-down: let go of what the plug-in gave us.
  ~HostSession() {
    m_plugin.Reset();
    m_broker->ReleaseAll();
    m_powerDown->ReleaseAll();
  }

  // Creates and initialises the plug-in, then prints its details.
  int Start(const PluginLibrary& library) {
    ComPtr<IClassFactory> factory;
    HRESULT hr =
        library.GetClassObject(CLSID_ConfigMgrPlugin, IID_PPV_ARGS(&factory));
    if (FAILED(hr)) return Fail("DllGetClassObject", hr);
    hr = factory->CreateInstance(nullptr, IID_PPV_ARGS(&m_plugin));
    if (FAILED(hr)) return Fail("CreateInstance", hr);

    PrintResult("Initialize", m_plugin->Initialize(m_services.Get()));

    NTarn::ScopedBstr name;
    NTarn::ScopedBstr version;
    if (SUCCEEDED(
            m_plugin->GetPluginDetails(name.Receive(), version.Receive()))) {
      printf("vplhost: plug-in \"%s\", version \"%s\"\n",
             Narrow(name.Get()).c_str(), Narrow(version.Get()).c_str());
    }
    return 0;
  }

  void Stop() {
    PrintResult("Uninitialize", m_plugin->Uninitialize());
    m_plugin.Reset();
  }

  // Asks every registered observer once, as before a shut-down.
  int AskObservers(DWORD settingsFlags) {
    const auto observers = m_powerDown->Observers();
    if (observers.empty()) {
      printf("vplhost: no power-down observer is registered\n");
      return 1;
    }
    for (const ComPtr<IPowerDownObserver>& observer : observers) {
      NTarn::ScopedBstr name;
      observer->GetObserverName(name.Receive());
      printf("vplhost: observer \"%s\"\n", Narrow(name.Get()).c_str());

      PrintResult("LoadSettings", observer->LoadSettings(settingsFlags));
      PowerDownResponse response = PowerDownResponse_NoObjection;
      NTarn::ScopedBstr reason;
      const HRESULT hr = observer->QueryPowerDown(m_services.Get(), &response,
                                                  reason.Receive());
      PrintResult("QueryPowerDown", hr);
      if (response == PowerDownResponse_Objection) {
        printf("vplhost: decision: objection (%d), reason \"%s\"\n",
               static_cast<int>(response), Narrow(reason.Get()).c_str());
      } else {
        printf("vplhost: decision: %s (%d)\n",
               response == PowerDownResponse_NoObjection ? "no objection"
                                                         : "unknown response",
               static_cast<int>(response));
      }
    }
    return 0;
  }

 private:
  // Host objects start with no reference; each ComPtr takes the first.
  ComPtr<vplhost::PowerDownProvider> m_powerDown;
  ComPtr<vplhost::EventBroker> m_broker;
  ComPtr<vplhost::TimeSinceLastInputProvider> m_idle;
  ComPtr<vplhost::ServiceProvider> m_services;
  ComPtr<IVesperlinePlugin> m_plugin;
};

// HKEY_LOCAL_MACHINE redirected, for this process, to a scratch key holding
// the run's settings, so that a query run never changes the machine's own.
class ScratchSettings {
 public:
  ScratchSettings() {
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, kScratchKey);
    NTarn::ScopedRegKey scratch;
    if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kScratchKey, 0, nullptr, 0,
                          KEY_ALL_ACCESS, nullptr, scratch.Receive(),
                          nullptr) != ERROR_SUCCESS) {
      return;
    }
    // The system keeps its own duplicate of the key while it stands in.
    m_active = ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, scratch.Get()) ==
               ERROR_SUCCESS;
  }
  ScratchSettings(const ScratchSettings&) = delete;
  ScratchSettings& operator=(const ScratchSettings&) = delete;
  ~ScratchSettings() {
    if (!m_active) return;
    ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, kScratchKey);
    ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kScratchKey);
    ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\VplHost");
  }

  bool IsActive() const { return m_active; }
  void SetString(const char* name, const std::string& text) const {
    ::RegSetKeyValueA(HKEY_LOCAL_MACHINE, kSettingsKey, name, REG_SZ,
                      text.c_str(), static_cast<DWORD>(text.size() + 1));
  }
  void SetDword(const char* name, DWORD value) const {
    ::RegSetKeyValueA(HKEY_LOCAL_MACHINE, kSettingsKey, name, REG_DWORD, &value,
                      sizeof(value));
  }

 private:
  bool m_active = false;
};

int RunDetails(const std::wstring& path) {
  PluginLibrary library(path);
  if (!library.IsUsable()) return 1;
  if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
  int result = 0;
  {
    HostSession host;
    result = host.Start(library);
    if (result == 0) host.Stop();
  }
  const bool unloadable = library.ReportCanUnloadNow();
  ::CoUninitialize();
  return result != 0 ? result : (unloadable ? 0 : 1);
}

struct QueryOptions {
  std::wstring scenario;
  std::wstring dll = DefaultPluginPath();
  std::string monitor = "ON";
  std::optional<DWORD> window;
  bool verbose = false;
};

int Usage() {
  printf(
      "usage: vplhost [path\\to\\VplCMgr.dll]\n"
      "       vplhost query --scenario file.json [--dll path] [--monitor TEXT]"
      " [--window MINUTES] [--verbose]\n");
  return 2;
}

std::optional<QueryOptions> ParseQueryOptions(int argc, wchar_t** argv) {
  QueryOptions options;
  for (int i = 2; i < argc; ++i) {
    const std::wstring option = argv[i];
    const bool hasValue = i + 1 < argc;
    if (option == L"--verbose") {
      options.verbose = true;
    } else if (option == L"--scenario" && hasValue) {
      options.scenario = argv[++i];
    } else if (option == L"--dll" && hasValue) {
      options.dll = argv[++i];
    } else if (option == L"--monitor" && hasValue) {
      options.monitor = Narrow(argv[++i]);
    } else if (option == L"--window" && hasValue) {
      options.window = static_cast<DWORD>(std::wcstoul(argv[++i], nullptr, 10));
    } else {
      return std::nullopt;
    }
  }
  if (options.scenario.empty()) return std::nullopt;
  return options;
}

int RunQuery(const QueryOptions& options) {
  ScratchSettings settings;
  if (!settings.IsActive()) {
    printf("vplhost: cannot set up the run's settings key\n");
    return 1;
  }
  settings.SetString("MonitorJobs", options.monitor);
  if (options.window)
    settings.SetDword("PendingSMSJobWindowMins", *options.window);
  // The verbose switch of the plug-in's diagnostic lines.
  settings.SetDword("debug", options.verbose ? 0x10 : 0);

  PluginLibrary library(options.dll);
  if (!library.IsUsable()) return 1;
  if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
  int result = 0;
  try {
    vpltest::SimulatedClient client(Narrow(options.scenario.c_str()));
    printf("vplhost: simulated ConfigMgr client from %ls\n",
           options.scenario.c_str());
    HostSession host;
    result = host.Start(library);
    if (result == 0) result = host.AskObservers(0);
    if (result == 0) host.Stop();
  } catch (const std::exception& error) {
    printf("vplhost: %s\n", error.what());
    result = 1;
  }
  const bool unloadable = library.ReportCanUnloadNow();
  ::CoUninitialize();
  return result != 0 ? result : (unloadable ? 0 : 1);
}

}  // namespace

// The host's logging entry point, found by the plug-in by name.
extern "C" __declspec(dllexport) int vLogPrintf(const char* format,
                                                va_list args) {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  char stamp[32];
  sprintf_s(stamp, sizeof(stamp), "%04d-%02d-%02d %02d:%02d:%02d.%03d",
            now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
            now.wSecond, now.wMilliseconds);
  std::string expanded;
  for (const char* p = format; *p; ++p) {
    if (p[0] == '%' && p[1] == '%') {
      expanded += "%%";
      ++p;
    } else if (p[0] == '%' && p[1] == 'T') {
      expanded += stamp;
      ++p;
    } else {
      expanded += *p;
    }
  }
  const int written = vfprintf(stdout, expanded.c_str(), args);
  fflush(stdout);
  return written;
}

int wmain(int argc, wchar_t** argv) {
  if (argc > 1 && std::wcscmp(argv[1], L"query") == 0) {
    const std::optional<QueryOptions> options = ParseQueryOptions(argc, argv);
    if (!options) return Usage();
    return RunQuery(*options);
  }
  if (argc > 2) return Usage();
  return RunDetails(argc > 1 ? argv[1] : DefaultPluginPath());
}
