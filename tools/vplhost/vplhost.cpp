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
#include "tools/vplhost/AutoshutdownConsole.h"
#include "tools/vplhost/ExitCode.h"
#include "tools/vplhost/HostServices.h"
#include "tools/vplhost/RunReport.h"
#include "tools/vplhost/ScheduleReport.h"
#include "tools/vplhost/StatedBattery.h"

using Microsoft::WRL::ComPtr;

namespace {

using DllGetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID,
                                                           void**);
using DllCanUnloadNowFunction = HRESULT(STDAPICALLTYPE*)();

constexpr char kSettingsKey[] = "Software\\Tarn\\Vesperline";
constexpr char kPluginClass[] = "{7FAE74E0-D06E-4A5C-A4BB-5EDF2FB6A893}";
// Where a query run keeps its settings instead of the machine's own, below
// a key of its process's own so that runs side by side keep theirs apart.
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

// The system's text for an error code, without its line break; empty when
// the system has none.
std::string SystemText(DWORD code) {
  char* buffer = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  const NTarn::ScopedLocalMemory owner(buffer);
  std::string text(buffer ? buffer : "", length);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' ||
                           text.back() == ' ' || text.back() == '.'))
    text.pop_back();
  return text;
}

std::string HResultText(HRESULT hr) {
  char code[16];
  sprintf_s(code, sizeof(code), "0x%08lx", static_cast<unsigned long>(hr));
  const std::string text = SystemText(static_cast<DWORD>(hr));
  return text.empty() ? std::string(code)
                      : std::string(code) + " (" + text + ")";
}

void PrintResult(vplhost::RunReport& report, const char* what, HRESULT hr) {
  report.Line("vplhost: %s returned 0x%08lx\n", what,
              static_cast<unsigned long>(hr));
}

// The plug-in DLL, loaded from a path and reached through its exports.
class PluginLibrary {
 public:
  // `origin` says why this path, for the message when it does not load.
  PluginLibrary(const std::wstring& path, vplhost::RunReport& report,
                const std::string& origin = std::string())
      : m_path(Narrow(path.c_str())), m_module(::LoadLibraryW(path.c_str())) {
    if (!m_module) {
      const DWORD error = ::GetLastError();
      const std::string text = SystemText(error);
      report.Error("vplhost: cannot load " + m_path + origin + ": error " +
                   std::to_string(error) +
                   (text.empty() ? std::string() : " (" + text + ")"));
      return;
    }
    m_getClassObject = reinterpret_cast<DllGetClassObjectFunction>(
        ::GetProcAddress(m_module, "DllGetClassObject"));
    m_canUnloadNow = reinterpret_cast<DllCanUnloadNowFunction>(
        ::GetProcAddress(m_module, "DllCanUnloadNow"));
    if (!m_getClassObject || !m_canUnloadNow) {
      report.Error(
          "vplhost: " + m_path + " is not a COM server: it does not export " +
          (m_getClassObject ? "DllCanUnloadNow" : "DllGetClassObject"));
    }
  }
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;
  ~PluginLibrary() {
    if (m_module) ::FreeLibrary(m_module);
  }

  bool IsUsable() const { return m_getClassObject && m_canUnloadNow; }
  HMODULE Module() const { return m_module; }
  const std::string& Path() const { return m_path; }
  HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) const {
    return m_getClassObject(clsid, riid, ppv);
  }
  // Reports DllCanUnloadNow; true when the DLL may go.
  bool ReportCanUnloadNow(vplhost::RunReport& report) const {
    const HRESULT unload = m_canUnloadNow();
    report.Line("vplhost: DllCanUnloadNow returned %s\n",
                unload == S_OK ? "S_OK" : "S_FALSE");
    report.CanUnloadNow(unload == S_OK);
    return unload == S_OK;
  }

 private:
  const std::string m_path;
  HMODULE m_module;
  DllGetClassObjectFunction m_getClassObject = nullptr;
  DllCanUnloadNowFunction m_canUnloadNow = nullptr;
};

// The host's side of one plug-in: its services and the plug-in object.
class HostSession {
 public:
  // `idleMilliseconds` is the idle time the host reports, when not the
  // session's own.
  explicit HostSession(vplhost::RunReport& report,
                       std::optional<DWORD> idleMilliseconds = std::nullopt)
      : m_report(report),
        m_powerDown(new vplhost::PowerDownProvider),
        m_broker(new vplhost::EventBroker),
        m_idle(new vplhost::TimeSinceLastInputProvider(idleMilliseconds)),
        m_services(new vplhost::ServiceProvider(
            m_powerDown.Get(), m_broker.Get(), m_idle.Get())) {}
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;
  // As the service does on shut-down: let go of what the plug-in gave us.
  // Releasing the auto-shutdown subscription stops the plug-in's worker
  // thread, which withdraws a request still open.
  ~HostSession() {
    m_plugin.Reset();
    m_broker->ReleaseAll();
    m_powerDown->ReleaseAll();
  }

  // Creates and initialises the plug-in, then prints its details.
  int Start(const PluginLibrary& library) {
    const auto cannotCreate = [&](const char* call, HRESULT hr) {
      m_report.Error("vplhost: " + library.Path() + " cannot create class " +
                     kPluginClass + ": " + call + " returned " +
                     HResultText(hr));
      return vplhost::kExitPlugin;
    };
    ComPtr<IClassFactory> factory;
    HRESULT hr =
        library.GetClassObject(CLSID_ConfigMgrPlugin, IID_PPV_ARGS(&factory));
    if (SUCCEEDED(hr) && !factory) hr = E_POINTER;
    if (FAILED(hr)) return cannotCreate("DllGetClassObject", hr);
    hr = factory->CreateInstance(nullptr, IID_PPV_ARGS(&m_plugin));
    if (SUCCEEDED(hr) && !m_plugin) hr = E_POINTER;
    if (FAILED(hr)) return cannotCreate("CreateInstance", hr);

    PrintResult(m_report, "Initialize", m_plugin->Initialize(m_services.Get()));

    NTarn::ScopedBstr name;
    NTarn::ScopedBstr version;
    if (SUCCEEDED(
            m_plugin->GetPluginDetails(name.Receive(), version.Receive()))) {
      m_report.Line("vplhost: plug-in \"%s\", version \"%s\"\n",
                    Narrow(name.Get()).c_str(), Narrow(version.Get()).c_str());
      m_report.SetPlugin(Narrow(name.Get()), Narrow(version.Get()));
    }
    return vplhost::kExitSuccess;
  }

  void Stop() {
    PrintResult(m_report, "Uninitialize", m_plugin->Uninitialize());
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
          PrintResult(m_report, "QueryPowerDown",
                      observer->QueryPowerDown(m_services.Get(), &response,
                                               reason.Receive()));
          std::optional<std::string> reasonText;
          if (reason.Get()) reasonText = Narrow(reason.Get());
          if (response == PowerDownResponse_Objection) {
            m_report.Line("vplhost: decision: objection (%d), reason \"%s\"\n",
                          static_cast<int>(response),
                          Narrow(reason.Get()).c_str());
            m_report.Decision(response, "objection", reasonText);
            result = vplhost::kExitObjection;
          } else {
            const char* decision = response == PowerDownResponse_NoObjection
                                       ? "no objection"
                                       : "unknown response";
            m_report.Line("vplhost: decision: %s (%d)\n", decision,
                          static_cast<int>(response));
            m_report.Decision(response, decision, reasonText);
          }
        });
    return any ? result : vplhost::kExitPlugin;
  }

  // Has every registered observer load its settings, as the host does once
  // it has initialised the plug-in.
  void LoadObserverSettings(DWORD settingsFlags) {
    ForEachObserver(settingsFlags, [](IPowerDownObserver*) {});
  }

  // Plays the host's part in an auto-shutdown run until the administrator
  // stops it.
  int RunAutoshutdown(bool batteryStated) {
    vplhost::AutoshutdownConsole console(m_report, m_powerDown.Get(),
                                         m_broker.Get(), m_idle.Get(),
                                         batteryStated);
    return console.Run();
  }

  // Has every registered observer log its status.
  int LogObserverStatus(DWORD settingsFlags) {
    const bool any =
        ForEachObserver(settingsFlags, [this](IPowerDownObserver* observer) {
          PrintResult(m_report, "LogStatus", observer->LogStatus());
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
      m_report.Error("vplhost: no power-down observer is registered");
      return false;
    }
    for (const ComPtr<IPowerDownObserver>& observer : observers) {
      NTarn::ScopedBstr name;
      observer->GetObserverName(name.Receive());
      m_report.Line("vplhost: observer \"%s\"\n", Narrow(name.Get()).c_str());
      m_report.Observer(Narrow(name.Get()));
      PrintResult(m_report, "LoadSettings",
                  observer->LoadSettings(settingsFlags));
      use(observer.Get());
    }
    return true;
  }

  vplhost::RunReport& m_report;
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
  ScratchSettings()
      : m_key(std::string(kScratchKey) + "\\" +
              std::to_string(::GetCurrentProcessId())) {
    // What a run that ended without cleaning up left under this number.
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, m_key.c_str());
    NTarn::ScopedRegKey scratch;
    if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, m_key.c_str(), 0, nullptr, 0,
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
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, m_key.c_str());
    ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, m_key.c_str());
    // The parents go with the last run; another run's key keeps them.
    ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kScratchKey);
    ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\VplHost");
  }

  bool IsActive() const { return m_active; }
  LSTATUS SetString(const char* name, const std::string& text) const {
    return ::RegSetKeyValueA(HKEY_LOCAL_MACHINE, kSettingsKey, name, REG_SZ,
                             text.c_str(), static_cast<DWORD>(text.size() + 1));
  }
  LSTATUS SetDword(const char* name, DWORD value) const {
    return ::RegSetKeyValueA(HKEY_LOCAL_MACHINE, kSettingsKey, name, REG_DWORD,
                             &value, sizeof(value));
  }
  // A value a scenario states, below the stand-in HKEY_LOCAL_MACHINE.
  LSTATUS Set(const vpltest::sim::RegistryValue& value) const {
    if (value.text) {
      return ::RegSetKeyValueW(
          HKEY_LOCAL_MACHINE, value.key.c_str(), value.name.c_str(), REG_SZ,
          value.text->c_str(),
          static_cast<DWORD>((value.text->size() + 1) * sizeof(wchar_t)));
    }
    const DWORD number = value.number;
    return ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, value.key.c_str(),
                             value.name.c_str(), REG_DWORD, &number,
                             sizeof(number));
  }

 private:
  const std::string m_key;
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
  std::optional<std::string> monitor;
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
    "                     [--window MINUTES] [--verbose] [--json]\n"
    "       vplhost status --scenario FILE [--dll PATH] [--json]\n"
    "       vplhost autoshutdown [--scenario FILE] [--dll PATH] [--monitor "
    "TEXT]\n"
    "                            [--window MINUTES] [--verbose]\n"
    "       vplhost schedule [--json] [--at \"YYYY-MM-DD HH:MM\"] TOKEN...\n"
    "       vplhost --help\n"
    "\n"
    "The plug-in is loaded from --dll, else from where its class is\n"
    "registered, else from beside vplhost.exe. A scenario's settings live in "
    "a\n"
    "scratch key standing in for HKEY_LOCAL_MACHINE during the run only.\n"
    "With --json, errors too are one JSON document on standard output:\n"
    "{\"error\": {\"exitCode\": N, \"message\": \"...\"}, ...}.\n"
    "\n"
    "autoshutdown raises the host's auto-shutdown event and plays the host's\n"
    "part in real time; without --scenario the machine's own settings and\n"
    "client apply (--monitor, --window and --verbose need a scenario). It\n"
    "reads commands, one a line, from standard input:\n"
    "%s"
    "\n"
    "exit codes:\n"
    "  0  no objection (query), or the command succeeded\n"
    "  1  a Windows or COM call failed\n"
    "  2  bad command line\n"
    "  3  an observer objects to the power-down (query)\n"
    "  4  the scenario file is missing or malformed\n"
    "  5  the plug-in DLL will not load, create, register or unload\n"
    "     (the message names the DLL, the class and the HRESULT)\n"
    "  6  a schedule token does not decode (schedule)\n";

void PrintUsage(FILE* stream) {
  fprintf(stream, kUsage, vplhost::AutoshutdownConsole::kCommands);
}

// With --json the error is the one document on standard output; the text
// goes to standard error as without it.
int UsageError(const std::string& problem, bool json = false,
               const std::wstring& command = std::wstring()) {
  if (json) {
    fprintf(stderr, "vplhost: %s\n", problem.c_str());
    fputs(
        vplhost::RunReport::ErrorJson(
            Narrow(command.c_str()), vplhost::kExitUsage, "vplhost: " + problem)
            .c_str(),
        stdout);
    return vplhost::kExitUsage;
  }
  fprintf(stderr, "vplhost: %s\n", problem.c_str());
  PrintUsage(stderr);
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
      command == L"query" || command == L"autoshutdown" ||
      ((command == L"status" || command == L"details") && !options->verbose &&
       !options->window && !options->monitor) ||
      command == L"schedule";
  if (!allowed) return "an option does not apply to " + Narrow(command.c_str());
  if (options->json && (command == L"details" || command == L"autoshutdown"))
    return "--json applies to query, status and schedule";
  if (command == L"autoshutdown" && options->scenario.empty() &&
      (options->verbose || options->window || options->monitor))
    return "--monitor, --window and --verbose need --scenario FILE";
  if ((options->dll || !options->scenario.empty()) && command == L"schedule")
    return "schedule takes no plug-in or scenario";
  return std::string();
}

std::wstring PluginPath(const Options& options) {
  if (options.dll) return *options.dll;
  if (const auto registered = RegisteredPluginPath()) return *registered;
  return DefaultPluginPath();
}

// Why the plug-in is looked for where it is, for a load failure's message.
std::string PluginOrigin(const Options& options) {
  if (options.dll) return std::string();
  if (const auto registered = RegisteredPluginPath())
    return std::string(", where class ") + kPluginClass + " is registered";
  return std::string(" beside vplhost.exe: class ") + kPluginClass +
         " is not registered";
}

// What the plug-in says about itself and where it stands in the registry.
int RunDetails(const std::wstring& path, const std::string& origin) {
  const std::optional<std::wstring> registered = RegisteredPluginPath();
  vplhost::RunReport report(false, "details");
  PluginLibrary library(path, report, origin);
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
    HostSession host(report);
    result = host.Start(library);
    if (result == vplhost::kExitSuccess) host.Stop();
  }
  const bool unloadable = library.ReportCanUnloadNow(report);
  ::CoUninitialize();
  if (result != vplhost::kExitSuccess) return result;
  return unloadable ? vplhost::kExitSuccess : vplhost::kExitPlugin;
}

bool ScenarioSets(const vpltest::sim::Scenario& scenario, const char* name) {
  for (const vpltest::sim::RegistryValue& value : scenario.RegistryValues()) {
    if (_wcsicmp(value.key.c_str(), L"Software\\Tarn\\Vesperline") == 0 &&
        _wcsicmp(value.name.c_str(), vpltest::sim::Utf8ToWide(name).c_str()) ==
            0)
      return true;
  }
  return false;
}

// The run's settings: the scenario's registry and policy values, then what
// the command line says over them. Monitoring is on unless something says
// otherwise.
enum class Command { kQuery, kStatus, kAutoshutdown };

const char* CommandName(Command command) {
  switch (command) {
    case Command::kQuery:
      return "query";
    case Command::kStatus:
      return "status";
    case Command::kAutoshutdown:
      return "autoshutdown";
  }
  return "";
}

bool WriteSettings(const Options& options, Command command,
                   const vpltest::sim::Scenario& scenario,
                   const ScratchSettings& settings,
                   vplhost::RunReport& report) {
  const auto failed = [&](const std::string& name, LSTATUS status) {
    report.Error("vplhost: cannot write " + name + ": error " +
                 std::to_string(status));
    return false;
  };
  for (const vpltest::sim::RegistryValue& value : scenario.RegistryValues()) {
    const LSTATUS status = settings.Set(value);
    if (status != ERROR_SUCCESS)
      return failed(vpltest::sim::WideToUtf8(value.key + L"\\" + value.name),
                    status);
  }
  LSTATUS status = ERROR_SUCCESS;
  if (options.monitor || !ScenarioSets(scenario, "MonitorJobs"))
    status = settings.SetString("MonitorJobs", options.monitor.value_or("ON"));
  if (status != ERROR_SUCCESS) return failed("MonitorJobs", status);
  if (options.window)
    status = settings.SetDword("PendingSMSJobWindowMins", *options.window);
  if (status != ERROR_SUCCESS) return failed("PendingSMSJobWindowMins", status);
  // The verbose switch of the plug-in's diagnostic lines; status always
  // explains itself. An auto-shutdown run also shows every attempt and its
  // completion.
  const bool verbose = options.verbose || command == Command::kStatus;
  const DWORD verboseBits = command == Command::kAutoshutdown ? 0x111 : 0x10;
  if (verbose || !ScenarioSets(scenario, "debug"))
    status = settings.SetDword("debug", verbose ? verboseBits : 0);
  if (status != ERROR_SUCCESS) return failed("debug", status);
  return true;
}

// Runs the plug-in, against a scenario's simulated client with the run's
// settings in a scratch key when there is one, and asks its observers
// (query), has them log their status, or plays an auto-shutdown run.
int RunScenario(const Options& options, Command command,
                vplhost::RunReport& report) {
  const std::wstring path = PluginPath(options);
  std::optional<vpltest::sim::Scenario> scenario;
  std::optional<ScratchSettings> settings;
  if (!options.scenario.empty()) {
    try {
      scenario = vpltest::sim::Scenario::Load(Narrow(options.scenario.c_str()));
    } catch (const vpltest::ScenarioError& error) {
      // The simulator's message names the file, the position and the problem.
      report.Error(std::string("vplhost: scenario: ") + error.what());
      return vplhost::kExitScenario;
    }
    settings.emplace();
    if (!settings->IsActive()) {
      report.Error("vplhost: cannot set up the run's settings key");
      return vplhost::kExitFailure;
    }
    if (!WriteSettings(options, command, *scenario, *settings, report))
      return vplhost::kExitFailure;
  }
  const vpltest::sim::HostFacts facts =
      scenario ? scenario->Host() : vpltest::sim::HostFacts{};

  PluginLibrary library(path, report, PluginOrigin(options));
  if (!library.IsUsable()) return vplhost::kExitPlugin;
  // Goes before the library does: the patched table lives in the module.
  vplhost::StatedBattery battery;
  if (facts.battery) {
    const HRESULT hr = battery.Install(library.Module(), *facts.battery);
    if (FAILED(hr)) {
      report.Error(
          "vplhost: cannot show the plug-in the scenario's battery "
          "(its import of CallNtPowerInformation): " +
          HResultText(hr));
      return vplhost::kExitFailure;
    }
    report.Line("vplhost: the plug-in sees the scenario's battery: %s\n",
                vplhost::BatteryStateName(*facts.battery));
  }
  if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
    return vplhost::kExitFailure;
  int result = vplhost::kExitSuccess;
  try {
    std::optional<vpltest::SimulatedClient> client;
    if (scenario) {
      client.emplace(Narrow(options.scenario.c_str()));
      report.Line("vplhost: simulated ConfigMgr client from %s\n",
                  Narrow(options.scenario.c_str()).c_str());
    }
    std::optional<DWORD> idle;
    if (facts.idleMilliseconds) idle = *facts.idleMilliseconds;
    HostSession host(report, idle);
    result = host.Start(library);
    if (result == vplhost::kExitSuccess) {
      switch (command) {
        case Command::kQuery:
          result = host.AskObservers(0);
          break;
        case Command::kStatus:
          result = host.LogObserverStatus(0);
          break;
        case Command::kAutoshutdown:
          host.LoadObserverSettings(0);
          result = host.RunAutoshutdown(battery.IsInstalled());
          break;
      }
    }
    if (result == vplhost::kExitSuccess || result == vplhost::kExitObjection)
      host.Stop();
    if (command == Command::kAutoshutdown) {
      report.Line("vplhost: releasing the plug-in and its subscriptions\n");
    }
  } catch (const vpltest::ScenarioError& error) {
    // The simulator's message names the file, the position and the problem.
    report.Error(std::string("vplhost: scenario: ") + error.what());
    result = vplhost::kExitScenario;
  } catch (const std::exception& error) {
    report.Error(std::string("vplhost: ") + error.what());
    result = vplhost::kExitFailure;
  }
  const bool unloadable = library.ReportCanUnloadNow(report);
  ::CoUninitialize();
  if (result != vplhost::kExitSuccess) return result;
  return unloadable ? vplhost::kExitSuccess : vplhost::kExitPlugin;
}

// The run with its report: as text while it happens, or with --json one
// document on standard output at the end, whatever the outcome.
int RunWithScenario(const Options& options, Command command) {
  vplhost::RunReport report(options.json, CommandName(command));
  report.SetScenario(Narrow(options.scenario.c_str()));
  // A long run is read as a log: every line says when.
  if (command == Command::kAutoshutdown) report.StampLines();
  vplhost::RunReport::SetCurrent(&report);
  const int result = RunScenario(options, command, report);
  vplhost::RunReport::SetCurrent(nullptr);
  if (report.IsJson()) {
    fputs(report.Json(result).c_str(), stdout);
    fflush(stdout);
  }
  return result;
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
  const std::string stamp = vplhost::RunReport::TimeStamp();
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
  vplhost::RunReport* report = vplhost::RunReport::Current();
  if (!report) {
    const int written = vfprintf(stdout, expanded.c_str(), args);
    fflush(stdout);
    return written;
  }
  va_list copy;
  va_copy(copy, args);
  const int length = vsnprintf(nullptr, 0, expanded.c_str(), copy);
  va_end(copy);
  if (length < 0) return length;
  std::string text(static_cast<size_t>(length) + 1, '\0');
  vsnprintf(text.data(), text.size(), expanded.c_str(), args);
  text.resize(static_cast<size_t>(length));
  report->PluginLog(text);
  return length;
}

int wmain(int argc, wchar_t** argv) {
  const std::wstring first = argc > 1 ? argv[1] : L"";
  if (first == L"--help" || first == L"-h" || first == L"/?") {
    PrintUsage(stdout);
    return vplhost::kExitSuccess;
  }
  if (first != L"details" && first != L"query" && first != L"status" &&
      first != L"schedule" && first != L"autoshutdown") {
    // The plain run: initialise the plug-in at a path and let it go.
    if (argc > 2) return UsageError("too many arguments");
    if (first.rfind(L"--", 0) == 0)
      return UsageError("unknown option " + Narrow(first.c_str()));
    return RunDetails(argc > 1 ? first : DefaultPluginPath(), std::string());
  }
  Options options;
  options.command = first;
  const std::string problem = ParseOptions(argc, argv, &options);
  if (!problem.empty()) {
    // A script that asked for JSON gets it even for a command line that is
    // wrong elsewhere.
    bool json = false;
    for (int i = 2; i < argc; ++i)
      json = json || std::wstring(argv[i]) == L"--json";
    const bool takesJson =
        first == L"query" || first == L"status" || first == L"schedule";
    return UsageError(problem, json && takesJson, first);
  }
  if (first == L"schedule") return RunSchedule(options);
  if (first == L"details")
    return RunDetails(PluginPath(options), PluginOrigin(options));
  if (first == L"autoshutdown")
    return RunWithScenario(options, Command::kAutoshutdown);
  return RunWithScenario(
      options, first == L"query" ? Command::kQuery : Command::kStatus);
}
