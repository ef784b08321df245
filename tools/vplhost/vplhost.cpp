// vplhost: a console stand-in for the host service. It loads VplCMgr.dll the
// way the service does, offers its services, and drives the plug-in.
//
// Its commands and exit codes are listed in kUsage (vplhost --help).
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
#include <vector>

#include "common/ScopedBstr.h"
#include "common/ScopedHandle.h"
#include "plugin/HostContract.h"
#include "tests/simclient/SimulatedClient.h"
#include "jobs/Clock.h"
#include "tools/vplhost/ExitCode.h"
#include "tools/vplhost/HostServices.h"
#include "tools/vplhost/ScheduleReport.h"

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
  fprintf(stderr, "vplhost: %s failed: 0x%08lx\n", what,
          static_cast<unsigned long>(hr));
  return vplhost::kExitPlugin;
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
      fprintf(stderr, "vplhost: cannot load %ls: error %lu\n", path.c_str(),
              ::GetLastError());
      return;
    }
    m_getClassObject = reinterpret_cast<DllGetClassObjectFunction>(
        ::GetProcAddress(m_module, "DllGetClassObject"));
    m_canUnloadNow = reinterpret_cast<DllCanUnloadNowFunction>(
        ::GetProcAddress(m_module, "DllCanUnloadNow"));
    if (!m_getClassObject || !m_canUnloadNow) {
      fprintf(stderr, "vplhost: %ls is not a COM server\n", path.c_str());
    }
  }
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;
  ~PluginLibrary() {
    if (m_module) ::FreeLibrary(m_module);
  }

  bool IsUsable() const { return m_getClassObject && m_canUnloadNow; }
  HMODULE Module() const { return m_module; }
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
    return vplhost::kExitSuccess;
  }

  void Stop() {
    PrintResult("Uninitialize", m_plugin->Uninitialize());
    m_plugin.Reset();
  }

  // Asks every registered observer once, as before a shut-down; an
  // objection from any of them makes the run's answer an objection.
  int AskObservers(DWORD settingsFlags) {
    int result = vplhost::kExitSuccess;
    const bool any =
        ForEachObserver(settingsFlags, [&](IPowerDownObserver* observer) {
          PowerDownResponse response = PowerDownResponse_NoObjection;
          NTarn::ScopedBstr reason;
          PrintResult("QueryPowerDown",
                      observer->QueryPowerDown(m_services.Get(), &response,
                                               reason.Receive()));
          if (response == PowerDownResponse_Objection) {
            printf("vplhost: decision: objection (%d), reason \"%s\"\n",
                   static_cast<int>(response), Narrow(reason.Get()).c_str());
            result = vplhost::kExitObjection;
          } else {
            printf("vplhost: decision: %s (%d)\n",
                   response == PowerDownResponse_NoObjection
                       ? "no objection"
                       : "unknown response",
                   static_cast<int>(response));
          }
        });
    return any ? result : vplhost::kExitPlugin;
  }

  // Has every registered observer log its status.
  int LogObserverStatus(DWORD settingsFlags) {
    const bool any =
        ForEachObserver(settingsFlags, [](IPowerDownObserver* observer) {
          PrintResult("LogStatus", observer->LogStatus());
        });
    return any ? vplhost::kExitSuccess : vplhost::kExitPlugin;
  }

 private:
  // Names each observer, loads its settings and hands it to `use`; false
  // when the plug-in registered none.
  template <typename Use>
  bool ForEachObserver(DWORD settingsFlags, Use use) {
    const auto observers = m_powerDown->Observers();
    if (observers.empty()) {
      fprintf(stderr, "vplhost: no power-down observer is registered\n");
      return false;
    }
    for (const ComPtr<IPowerDownObserver>& observer : observers) {
      NTarn::ScopedBstr name;
      observer->GetObserverName(name.Receive());
      printf("vplhost: observer \"%s\"\n", Narrow(name.Get()).c_str());
      PrintResult("LoadSettings", observer->LoadSettings(settingsFlags));
      use(observer.Get());
    }
    return true;
  }

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

// Where the class is registered: the InprocServer32 path of the CLSID, seen
// through HKEY_CLASSES_ROOT as COM sees it (per-user over machine-wide).
std::optional<std::wstring> RegisteredPluginPath() {
  wchar_t path[MAX_PATH * 2];
  DWORD size = sizeof(path);
  const LSTATUS status = ::RegGetValueW(
      HKEY_CLASSES_ROOT,
      L"CLSID\\{7FAE74E0-D06E-4A5C-A4BB-5EDF2FB6A893}\\InprocServer32", nullptr,
      RRF_RT_REG_SZ, nullptr, path, &size);
  if (status != ERROR_SUCCESS) return std::nullopt;
  return std::wstring(path);
}

std::wstring ModulePath(HMODULE module) {
  wchar_t path[MAX_PATH * 2];
  const DWORD length = ::GetModuleFileNameW(module, path, MAX_PATH * 2);
  return std::wstring(path, length);
}

struct Options {
  std::wstring command;
  std::wstring scenario;
  std::optional<std::wstring> dll;
  std::string monitor = "ON";
  std::optional<DWORD> window;
  bool verbose = false;
  bool json = false;
  std::optional<__time64_t> at;
  std::vector<std::wstring> operands;
};

const char kUsage[] =
    "usage: vplhost [path\\to\\VplCMgr.dll]\n"
    "       vplhost details [--dll PATH]\n"
    "       vplhost query --scenario FILE [--dll PATH] [--monitor TEXT]\n"
    "                     [--window MINUTES] [--verbose]\n"
    "       vplhost status --scenario FILE [--dll PATH]\n"
    "       vplhost schedule [--json] [--at \"YYYY-MM-DD HH:MM\"] TOKEN...\n"
    "       vplhost --help\n"
    "\n"
    "The plug-in is loaded from --dll, else from where its class is\n"
    "registered, else from beside vplhost.exe. A scenario's settings live in "
    "a\n"
    "scratch key standing in for HKEY_LOCAL_MACHINE during the run only.\n"
    "\n"
    "exit codes:\n"
    "  0  no objection (query), or the command succeeded\n"
    "  1  a Windows or COM call failed\n"
    "  2  bad command line\n"
    "  3  an observer objects to the power-down (query)\n"
    "  4  the scenario file is missing or malformed\n"
    "  5  the plug-in DLL will not load, create, register or unload\n"
    "  6  a schedule token does not decode (schedule)\n";

int UsageError(const std::string& problem) {
  fprintf(stderr, "vplhost: %s\n%s", problem.c_str(), kUsage);
  return vplhost::kExitUsage;
}

// Reads the options after the command; an empty text means they are usable.
std::string ParseOptions(int argc, wchar_t** argv, Options* options) {
  for (int i = 2; i < argc; ++i) {
    const std::wstring option = argv[i];
    const auto value = [&]() -> const wchar_t* {
      return i + 1 < argc ? argv[++i] : nullptr;
    };
    if (option == L"--verbose") {
      options->verbose = true;
    } else if (option == L"--json") {
      options->json = true;
    } else if (option == L"--scenario" || option == L"--dll" ||
               option == L"--monitor" || option == L"--window" ||
               option == L"--at") {
      const wchar_t* text = value();
      if (!text) return Narrow(option.c_str()) + " needs a value";
      if (option == L"--scenario") {
        options->scenario = text;
      } else if (option == L"--dll") {
        options->dll = text;
      } else if (option == L"--monitor") {
        options->monitor = Narrow(text);
      } else if (option == L"--window") {
        wchar_t* stop = nullptr;
        const unsigned long minutes = std::wcstoul(text, &stop, 10);
        if (!*text || *stop || minutes > MAXDWORD)
          return "--window needs a number of minutes";
        options->window = static_cast<DWORD>(minutes);
      } else {
        __time64_t at = 0;
        if (!vplhost::ParseLocalTime(text, &at))
          return "--at needs a local time \"YYYY-MM-DD HH:MM\"";
        options->at = at;
      }
    } else if (option.rfind(L"--", 0) == 0) {
      return "unknown option " + Narrow(option.c_str());
    } else {
      options->operands.push_back(option);
    }
  }
  const std::wstring& command = options->command;
  const bool needsScenario = command == L"query" || command == L"status";
  if (needsScenario && options->scenario.empty())
    return Narrow(command.c_str()) + " needs --scenario FILE";
  if (command == L"schedule" && options->operands.empty())
    return "schedule needs a token";
  if (command != L"schedule" && !options->operands.empty())
    return "unexpected argument " + Narrow(options->operands.front().c_str());
  const bool allowed =
      command == L"query" ||
      ((command == L"status" || command == L"details") && !options->verbose &&
       !options->window && options->monitor == "ON") ||
      command == L"schedule";
  if (!allowed) return "an option does not apply to " + Narrow(command.c_str());
  if (options->json && command != L"schedule")
    return "--json applies to schedule only";
  if ((options->dll || !options->scenario.empty()) && command == L"schedule")
    return "schedule takes no plug-in or scenario";
  return std::string();
}

std::wstring PluginPath(const Options& options) {
  if (options.dll) return *options.dll;
  if (const auto registered = RegisteredPluginPath()) return *registered;
  return DefaultPluginPath();
}

// What the plug-in says about itself and where it stands in the registry.
int RunDetails(const std::wstring& path) {
  const std::optional<std::wstring> registered = RegisteredPluginPath();
  PluginLibrary library(path);
  if (!library.IsUsable()) return vplhost::kExitPlugin;
  printf("vplhost: module %ls\n", ModulePath(library.Module()).c_str());
  if (registered) {
    printf("vplhost: registered, InprocServer32 %ls\n", registered->c_str());
  } else {
    printf("vplhost: not registered\n");
  }
  if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
    return vplhost::kExitFailure;
  int result = vplhost::kExitSuccess;
  {
    HostSession host;
    result = host.Start(library);
    if (result == vplhost::kExitSuccess) host.Stop();
  }
  const bool unloadable = library.ReportCanUnloadNow();
  ::CoUninitialize();
  if (result != vplhost::kExitSuccess) return result;
  return unloadable ? vplhost::kExitSuccess : vplhost::kExitPlugin;
}

// Runs the plug-in against a scenario's simulated client, with the run's
// settings in a scratch key, and asks its observers as `ask` says.
int RunWithScenario(const Options& options, bool query) {
  const std::wstring path = PluginPath(options);
  ScratchSettings settings;
  if (!settings.IsActive()) {
    printf("vplhost: cannot set up the run's settings key\n");
    return vplhost::kExitFailure;
  }
  settings.SetString("MonitorJobs", options.monitor);
  if (options.window)
    settings.SetDword("PendingSMSJobWindowMins", *options.window);
  // The verbose switch of the plug-in's diagnostic lines; status always
  // explains itself.
  settings.SetDword("debug", options.verbose || !query ? 0x10 : 0);

  PluginLibrary library(path);
  if (!library.IsUsable()) return vplhost::kExitPlugin;
  if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
    return vplhost::kExitFailure;
  int result = vplhost::kExitSuccess;
  try {
    vpltest::SimulatedClient client(Narrow(options.scenario.c_str()));
    printf("vplhost: simulated ConfigMgr client from %ls\n",
           options.scenario.c_str());
    HostSession host;
    result = host.Start(library);
    if (result == vplhost::kExitSuccess)
      result = query ? host.AskObservers(0) : host.LogObserverStatus(0);
    if (result == vplhost::kExitSuccess || result == vplhost::kExitObjection)
      host.Stop();
  } catch (const vpltest::ScenarioError& error) {
    // The simulator's message names the file, the position and the problem.
    fprintf(stderr, "vplhost: scenario: %s\n", error.what());
    result = vplhost::kExitScenario;
  } catch (const std::exception& error) {
    fprintf(stderr, "vplhost: %s\n", error.what());
    result = vplhost::kExitFailure;
  }
  const bool unloadable = library.ReportCanUnloadNow();
  ::CoUninitialize();
  if (result != vplhost::kExitSuccess) return result;
  return unloadable ? vplhost::kExitSuccess : vplhost::kExitPlugin;
}

int RunSchedule(const Options& options) {
  std::string text;
  const int result = vplhost::DescribeSchedules(
      options.operands, options.json, options.at ? *options.at : CurrentTime(),
      &text);
  fputs(text.c_str(), stdout);
  return result;
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
  const std::wstring first = argc > 1 ? argv[1] : L"";
  if (first == L"--help" || first == L"-h" || first == L"/?") {
    fputs(kUsage, stdout);
    return vplhost::kExitSuccess;
  }
  if (first != L"details" && first != L"query" && first != L"status" &&
      first != L"schedule") {
    // The plain run: initialise the plug-in at a path and let it go.
    if (argc > 2) return UsageError("too many arguments");
    if (first.rfind(L"--", 0) == 0)
      return UsageError("unknown option " + Narrow(first.c_str()));
    return RunDetails(argc > 1 ? first : DefaultPluginPath());
  }
  Options options;
  options.command = first;
  const std::string problem = ParseOptions(argc, argv, &options);
  if (!problem.empty()) return UsageError(problem);
  if (first == L"schedule") return RunSchedule(options);
  if (first == L"details") return RunDetails(PluginPath(options));
  return RunWithScenario(options, first == L"query");
}
