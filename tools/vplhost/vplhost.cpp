// vplhost: a console stand-in for the host service. It loads VplCMgr.dll the
// way the service does, offers its services, and drives the plug-in.
//
// Its commands and exit codes are listed in kUsage (vplhost --help).
#include <windows.h>
#include <objbase.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "jobs/Clock.h"
#include "tests/simclient/SimulatedClient.h"
#include "tools/vplhost/AutoshutdownConsole.h"
#include "tools/vplhost/ConsoleText.h"
#include "tools/vplhost/ExitCode.h"
#include "tools/vplhost/HostSession.h"
#include "tools/vplhost/PluginLibrary.h"
#include "tools/vplhost/RunReport.h"
#include "tools/vplhost/ScheduleReport.h"
#include "tools/vplhost/ScratchSettings.h"
#include "tools/vplhost/StatedBattery.h"
#include "tools/vplhost/TextSettingCheck.h"

using vplhost::HostSession;
using vplhost::HResultText;
using vplhost::kPluginClass;
using vplhost::Narrow;
using vplhost::PluginLibrary;
using vplhost::ScratchSettings;

namespace {

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
  return vplhost::PluginBesideProgram();
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
          for (const std::string& warning : vplhost::LongTextSettingWarnings())
            report.Line("%s\n", warning.c_str());
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
  const std::string expanded =
      vplhost::ExpandTimeStamp(format, vplhost::RunReport::TimeStamp());
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
    return RunDetails(argc > 1 ? first : vplhost::PluginBesideProgram(),
                      std::string());
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
