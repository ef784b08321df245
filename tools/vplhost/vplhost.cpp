// vplhost: a console stand-in for the host service. It loads VplCMgr.dll the
// way the service does, offers its services, and drives the plug-in.
//
// Its commands and exit codes are listed in Usage.cpp (vplhost --help).
#include <windows.h>
#include <objbase.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "common/HResultException.h"
#include "jobs/Clock.h"
#include "observer/ObserverSettings.h"
#include "tests/simclient/SimulatedClient.h"
#include "tools/vplhost/AutoshutdownConsole.h"
#include "tools/vplhost/ComApartment.h"
#include "tools/vplhost/ConsoleText.h"
#include "tools/vplhost/DecisionExplanation.h"
#include "tools/vplhost/ExitCode.h"
#include "tools/vplhost/HostSession.h"
#include "tools/vplhost/JobsReport.h"
#include "tools/vplhost/PluginLibrary.h"
#include "tools/vplhost/RunReport.h"
#include "tools/vplhost/ScenarioCapture.h"
#include "tools/vplhost/ScheduleReport.h"
#include "tools/vplhost/ScratchSettings.h"
#include "tools/vplhost/StatedBattery.h"
#include "tools/vplhost/TextSettingCheck.h"
#include "tools/vplhost/Usage.h"

using vplhost::HostSession;
using vplhost::HResultText;
using vplhost::kPluginClass;
using vplhost::Narrow;
using vplhost::PluginLibrary;
using vplhost::ScratchSettings;

namespace {

// The largest window whose number the plug-in's reason text shows as it is
// (it formats the window as a signed 32-bit number), and the longest look
// ahead of `jobs`, a leap year.
constexpr unsigned long long kMaxWindowMinutes = 2147483647ULL;
constexpr unsigned long long kMaxHours = 8784ULL;

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
  std::optional<std::wstring> out;
  std::optional<std::string> monitor;
  std::optional<DWORD> window;
  std::optional<unsigned> hours;
  bool verbose = false;
  bool json = false;
  std::optional<__time64_t> at;
  std::vector<std::wstring> operands;

  bool Live() const { return scenario.empty(); }
};

bool TakesJson(const std::wstring& command) {
  return command == L"query" || command == L"status" ||
         command == L"schedule" || command == L"jobs" || command == L"details";
}

// With --json the error is the one document on standard output; the text
// goes to standard error as without it.
int UsageError(const std::string& problem, bool json = false,
               const std::wstring& command = std::wstring()) {
  fprintf(stderr, "vplhost: %s\n", problem.c_str());
  if (json) {
    fputs(
        vplhost::RunReport::ErrorJson(
            Narrow(command.c_str()), vplhost::kExitUsage, "vplhost: " + problem)
            .c_str(),
        stdout);
    return vplhost::kExitUsage;
  }
  if (command.empty()) {
    vplhost::PrintUsage(stderr);
  } else {
    vplhost::PrintCommandUsage(command, stderr);
  }
  return vplhost::kExitUsage;
}

// A decimal number from 0 to `max`, digits only: no sign, no blank.
bool ParseNumber(const wchar_t* text, unsigned long long max,
                 unsigned long long* number) {
  if (!*text || std::wcslen(text) > 20) return false;
  for (const wchar_t* p = text; *p; ++p) {
    if (*p < L'0' || *p > L'9') return false;
  }
  wchar_t* stop = nullptr;
  errno = 0;
  const unsigned long long value = std::wcstoull(text, &stop, 10);
  if (errno == ERANGE || *stop || value > max) return false;
  *number = value;
  return true;
}

// Reads one option with a value; an empty text means it is usable.
std::string ReadValueOption(const std::wstring& option, const wchar_t* text,
                            Options* options) {
  if (option == L"--scenario") {
    options->scenario = text;
  } else if (option == L"--dll") {
    options->dll = text;
  } else if (option == L"--out") {
    options->out = text;
  } else if (option == L"--monitor") {
    options->monitor = Narrow(text);
  } else if (option == L"--window") {
    unsigned long long minutes = 0;
    if (!ParseNumber(text, kMaxWindowMinutes, &minutes))
      return "--window needs a number of minutes from 0 to 2147483647";
    options->window = static_cast<DWORD>(minutes);
  } else if (option == L"--hours") {
    unsigned long long hours = 0;
    if (!ParseNumber(text, kMaxHours, &hours) || hours == 0)
      return "--hours needs a number of hours from 1 to 8784";
    options->hours = static_cast<unsigned>(hours);
  } else {
    __time64_t at = 0;
    if (!vplhost::ParseLocalTime(text, &at))
      return "--at needs a local time \"YYYY-MM-DD HH:MM\"";
    options->at = at;
  }
  return std::string();
}

// Whether the command takes the options given.
std::string CheckOptions(const Options& options) {
  const std::wstring& command = options.command;
  const std::string name = Narrow(command.c_str());
  if (command == L"schedule" && options.operands.empty())
    return "schedule needs a token";
  if (command != L"schedule" && !options.operands.empty())
    return "unexpected argument " + Narrow(options.operands.front().c_str());
  const bool tuned = options.verbose || options.window || options.monitor;
  const bool allowed =
      command == L"query" || command == L"autoshutdown" ||
      ((command == L"status" || command == L"details") && !tuned) ||
      (command == L"jobs" && !options.verbose && !options.monitor &&
       !options.dll) ||
      command == L"schedule" ||
      (command == L"capture" && !tuned && !options.dll && !options.json);
  if (!allowed) return "an option does not apply to " + name;
  if (command == L"capture" && !options.out) return "capture needs --out FILE";
  if (options.out && command != L"capture")
    return "--out applies to capture only";
  if (options.hours && command != L"jobs")
    return "--hours applies to jobs only";
  if (options.at && command != L"schedule")
    return "--at applies to schedule only";
  if (options.json && command == L"autoshutdown")
    return "--json applies to query, status, jobs, details and schedule";
  if (command == L"autoshutdown" && options.Live() && tuned)
    return "--monitor, --window and --verbose need --scenario FILE";
  if ((options.dll || !options.Live()) && command == L"schedule")
    return "schedule takes no plug-in or scenario";
  if (!options.Live() && command == L"details")
    return "details takes no scenario";
  return std::string();
}

// Reads the options after the command; an empty text means they are usable.
std::string ParseOptions(int argc, wchar_t** argv, Options* options) {
  for (int i = 2; i < argc; ++i) {
    const std::wstring option = argv[i];
    if (option == L"--verbose") {
      options->verbose = true;
    } else if (option == L"--json") {
      options->json = true;
    } else if (option == L"--scenario" || option == L"--dll" ||
               option == L"--monitor" || option == L"--window" ||
               option == L"--hours" || option == L"--at" ||
               option == L"--out") {
      if (i + 1 >= argc) return Narrow(option.c_str()) + " needs a value";
      const std::string problem = ReadValueOption(option, argv[++i], options);
      if (!problem.empty()) return problem;
    } else if (option.rfind(L"--", 0) == 0) {
      return "unknown option " + Narrow(option.c_str());
    } else {
      options->operands.push_back(option);
    }
  }
  return CheckOptions(*options);
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
int ReportDetails(const std::wstring& path, const std::string& origin,
                  vplhost::RunReport& report) {
  const std::optional<std::wstring> registered = RegisteredPluginPath();
  PluginLibrary library(path, report, origin);
  if (!library.IsUsable()) return vplhost::kExitPlugin;
  const std::string module = Narrow(ModulePath(library.Module()).c_str());
  report.Line("vplhost: module %s\n", module.c_str());
  report.Set("module", module);
  if (registered) {
    report.Line("vplhost: registered, InprocServer32 %s\n",
                Narrow(registered->c_str()).c_str());
    report.Set("registered", Narrow(registered->c_str()));
  } else {
    report.Line("vplhost: not registered\n");
    report.Set("registered", nullptr);
  }
  const vplhost::ComApartment apartment;
  if (!apartment.Entered()) return vplhost::kExitFailure;
  int result = vplhost::kExitSuccess;
  {
    HostSession host(report);
    result = host.Start(library);
    if (result == vplhost::kExitSuccess) host.Stop();
  }
  const bool unloadable = library.ReportCanUnloadNow(report);
  if (result != vplhost::kExitSuccess) return result;
  return unloadable ? vplhost::kExitSuccess : vplhost::kExitPlugin;
}

int RunDetails(const std::wstring& path, const std::string& origin, bool json) {
  vplhost::RunReport report(json, "details");
  vplhost::RunReport::SetCurrent(&report);
  const int result = ReportDetails(path, origin, report);
  vplhost::RunReport::SetCurrent(nullptr);
  if (report.IsJson()) fputs(report.Json(result).c_str(), stdout);
  return result;
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

enum class Command { kQuery, kStatus, kAutoshutdown, kJobs, kCapture };

const char* CommandName(Command command) {
  switch (command) {
    case Command::kQuery:
      return "query";
    case Command::kStatus:
      return "status";
    case Command::kAutoshutdown:
      return "autoshutdown";
    case Command::kJobs:
      return "jobs";
    case Command::kCapture:
      return "capture";
  }
  return "";
}

// A replay's monitoring switch when the scenario states none: on, so that
// a scenario shows what the client would hold up.
bool ReplayTurnsMonitoringOn(const Options& options,
                             const vpltest::sim::Scenario* scenario) {
  return scenario && !options.monitor &&
         !ScenarioSets(*scenario, "MonitorJobs");
}

// The run's settings over what the scratch key holds already (a copy of the
// machine's, or nothing): the scenario's registry and policy values, then
// what the command line says over them.
bool WriteSettings(const Options& options, Command command,
                   const vpltest::sim::Scenario* scenario,
                   const ScratchSettings& settings,
                   vplhost::RunReport& report) {
  const auto failed = [&](const std::string& name, LSTATUS status) {
    report.Error("vplhost: cannot write " + name + ": error " +
                 std::to_string(status));
    return false;
  };
  if (scenario) {
    for (const vpltest::sim::RegistryValue& value :
         scenario->RegistryValues()) {
      const LSTATUS status = settings.Set(value);
      if (status != ERROR_SUCCESS)
        return failed(vpltest::sim::WideToUtf8(value.key + L"\\" + value.name),
                      status);
    }
  }
  LSTATUS status = ERROR_SUCCESS;
  if (options.monitor || ReplayTurnsMonitoringOn(options, scenario))
    status = settings.SetString("MonitorJobs", options.monitor.value_or("ON"));
  if (status != ERROR_SUCCESS) return failed("MonitorJobs", status);
  if (options.window)
    status = settings.SetDword("PendingSMSJobWindowMins", *options.window);
  if (status != ERROR_SUCCESS) return failed("PendingSMSJobWindowMins", status);
  // The verbose switch of the plug-in's diagnostic lines; status always
  // explains itself. An auto-shutdown run also shows every attempt and its
  // completion. A live run keeps the machine's switch unless told.
  const bool verbose = options.verbose || command == Command::kStatus;
  const DWORD verboseBits = command == Command::kAutoshutdown ? 0x111 : 0x10;
  // A capture records the scenario's values alone.
  if (command == Command::kCapture) return true;
  if (verbose || (scenario && !ScenarioSets(*scenario, "debug")))
    status = settings.SetDword("debug", verbose ? verboseBits : 0);
  if (status != ERROR_SUCCESS) return failed("debug", status);
  return true;
}

// Where each of the observer's settings comes from, read from the run's
// keys before the plug-in reads (and writes back) any of them.
vplhost::SettingSources SourcesOf(const Options& options,
                                  const vpltest::sim::Scenario* scenario) {
  vplhost::SettingSources sources;
  for (const char* name :
       {"MonitorJobs", "PendingSMSJobWindowMins", "AllowedShutdownJobStates",
        "AllowedShutdownUpdateStates"}) {
    const std::string value = name;
    switch (ObserverSettings::SourceOf(name)) {
      case ObserverSettings::Source::kPolicy:
        sources[value] = "policy";
        break;
      case ObserverSettings::Source::kLocal:
        if (value == "MonitorJobs" && options.monitor) {
          sources[value] = "--monitor";
        } else if (value == "MonitorJobs" &&
                   ReplayTurnsMonitoringOn(options, scenario)) {
          sources[value] = "replay default";
        } else if (value == "PendingSMSJobWindowMins" && options.window) {
          sources[value] = "--window";
        } else {
          sources[value] = "local";
        }
        break;
      case ObserverSettings::Source::kDefault:
        sources[value] = "default";
        break;
    }
  }
  return sources;
}

// The run's settings key and what it holds: a copy of this machine's keys
// for a live run, a scenario's values for a replay, the command line's over
// either. Empty when it cannot be set up (reported).
struct RunSettings {
  std::optional<vpltest::sim::Scenario> scenario;
  std::optional<ScratchSettings> scratch;
  vplhost::SettingSources sources;
};

int PrepareSettings(const Options& options, Command command,
                    vplhost::RunReport& report, RunSettings& run) {
  if (!options.Live()) {
    try {
      run.scenario = vpltest::sim::Scenario::Load(options.scenario);
    } catch (const vpltest::ScenarioError& error) {
      // The simulator's message names the file, the position and the problem.
      report.Error(std::string("vplhost: scenario: ") + error.what());
      return vplhost::kExitScenario;
    }
  }
  // A live auto-shutdown run is the machine's own: its settings and state.
  if (options.Live() && command == Command::kAutoshutdown)
    return vplhost::kExitSuccess;
  run.scratch.emplace(options.Live());
  if (!run.scratch->IsActive()) {
    report.Error("vplhost: cannot set up the run's settings key: " +
                 run.scratch->Problem());
    return vplhost::kExitFailure;
  }
  const vpltest::sim::Scenario* scenario =
      run.scenario ? &*run.scenario : nullptr;
  if (!WriteSettings(options, command, scenario, *run.scratch, report))
    return vplhost::kExitFailure;
  run.sources = SourcesOf(options, scenario);
  report.Line(options.Live()
                  ? "vplhost: settings from this machine, read into a scratch "
                    "copy: the machine's keys stay unchanged\n"
                  : "vplhost: settings from the scenario\n");
  return vplhost::kExitSuccess;
}

// The decision walked again with the product's own code, its reasons shown
// after the plug-in's answer. The product code logs nothing meanwhile.
void ExplainDecision(const vplhost::SettingSources& sources, int result,
                     vplhost::RunReport& report) {
  const vplhost::RunReport::MutedLog muted;
  std::optional<vplhost::DecisionExplanation> explanation;
  try {
    explanation = vplhost::DecisionExplanation::Explain(sources);
  } catch (const NTarn::HResultException& error) {
    report.Error("vplhost: the decision cannot be explained: " +
                 HResultText(error.Error()));
    return;
  }
  for (const vplhost::Reason& reason : explanation->Reasons())
    report.Line("vplhost: reason: %s\n", reason.text.c_str());
  nlohmann::ordered_json reasons = nlohmann::ordered_json::array();
  for (const vplhost::Reason& reason : explanation->Reasons())
    reasons.push_back(reason.object);
  const PowerDownJudgement& judgement = explanation->Judgement();
  report.Set("settings", explanation->Settings());
  report.Set("ground",
             vplhost::DecisionExplanation::GroundName(judgement.ground));
  report.Set("reasons", std::move(reasons));
  if (judgement.Objects() != (result == vplhost::kExitObjection)) {
    report.Error(
        "vplhost: the explanation does not agree with the plug-in's decision "
        "(the client's data may have changed in between)");
  }
}

// Runs the plug-in with the run's settings, against a scenario's simulated
// client or this machine's WMI, and asks its observers (query), has them log
// their status, or plays an auto-shutdown run.
int RunPlugin(const Options& options, Command command,
              vplhost::RunReport& report) {
  const std::wstring path = PluginPath(options);
  RunSettings settings;
  const int prepared = PrepareSettings(options, command, report, settings);
  if (prepared != vplhost::kExitSuccess) return prepared;
  const vpltest::sim::HostFacts facts =
      settings.scenario ? settings.scenario->Host() : vpltest::sim::HostFacts{};

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
  const vplhost::ComApartment apartment;
  if (!apartment.Entered()) return vplhost::kExitFailure;
  int result = vplhost::kExitSuccess;
  try {
    std::optional<vpltest::SimulatedClient> client;
    if (settings.scenario) {
      client.emplace(*settings.scenario);
      report.Line("vplhost: simulated ConfigMgr client from %s\n",
                  Narrow(options.scenario.c_str()).c_str());
    } else if (command != Command::kAutoshutdown) {
      report.Line(
          "vplhost: this machine's WMI (its ConfigMgr client, or none), "
          "battery and chassis\n");
    }
    std::optional<DWORD> idle;
    if (facts.idleMilliseconds) idle = *facts.idleMilliseconds;
    HostSession host(report, idle);
    result = host.Start(library);
    if (result == vplhost::kExitSuccess) {
      switch (command) {
        case Command::kQuery:
          result = host.AskObservers(0);
          if (result == vplhost::kExitSuccess ||
              result == vplhost::kExitObjection)
            ExplainDecision(settings.sources, result, report);
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
        case Command::kJobs:
        case Command::kCapture:
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
  if (result != vplhost::kExitSuccess) return result;
  return unloadable ? vplhost::kExitSuccess : vplhost::kExitPlugin;
}

// The jobs ahead, read by the product's own pending-jobs code in this
// process: no plug-in is loaded.
int ListJobs(const Options& options, vplhost::RunReport& report,
             nlohmann::ordered_json* listing) {
  RunSettings settings;
  const int prepared =
      PrepareSettings(options, Command::kJobs, report, settings);
  if (prepared != vplhost::kExitSuccess) return prepared;
  const vplhost::ComApartment apartment;
  if (!apartment.Entered()) return vplhost::kExitFailure;
  int result = vplhost::kExitSuccess;
  try {
    std::optional<vpltest::SimulatedClient> client;
    if (settings.scenario) client.emplace(*settings.scenario);
    const vplhost::RunReport::MutedLog muted;
    ObserverSettings observer;
    observer.Load(0);
    vplhost::JobsQuestion question;
    question.now = CurrentTime();
    question.windowMinutes = observer.PendingWindowMinutes();
    question.windowSource = settings.sources["PendingSMSJobWindowMins"];
    question.hours = options.hours.value_or(24);
    *listing = vplhost::ListJobs(question);
    if (listing->contains("error")) {
      report.Error("vplhost: " + (*listing)["error"].get<std::string>());
      result = vplhost::kExitFailure;
    }
  } catch (const vpltest::ScenarioError& error) {
    report.Error(std::string("vplhost: scenario: ") + error.what());
    result = vplhost::kExitScenario;
  } catch (const NTarn::HResultException& error) {
    report.Error("vplhost: the jobs cannot be listed: " +
                 HResultText(error.Error()));
    result = vplhost::kExitFailure;
  }
  return result;
}

int RunJobs(const Options& options) {
  vplhost::RunReport report(options.json, "jobs");
  report.SetScenario(Narrow(options.scenario.c_str()));
  nlohmann::ordered_json listing;
  const int result = ListJobs(options, report, &listing);
  if (report.IsJson()) {
    for (const auto& item : listing.items())
      report.Set(item.key(), item.value());
    fputs(report.Json(result).c_str(), stdout);
  } else if (!listing.is_null()) {
    fputs(vplhost::JobsText(listing).c_str(), stdout);
  }
  return result;
}

// The run with its report: as text while it happens, or with --json one
// document on standard output at the end, whatever the outcome.
int RunWithPlugin(const Options& options, Command command) {
  vplhost::RunReport report(options.json, CommandName(command));
  report.SetScenario(Narrow(options.scenario.c_str()));
  report.Set("live", options.Live());
  vplhost::RunReport::SetCurrent(&report);
  const int result = RunPlugin(options, command, report);
  vplhost::RunReport::SetCurrent(nullptr);
  if (report.IsJson()) {
    fputs(report.Json(result).c_str(), stdout);
    fflush(stdout);
  }
  return result;
}

// This machine, or a scenario's simulated client with its settings in the
// scratch key, read as a machine is read and written as a scenario.
int RunCapture(const Options& options) {
  vplhost::RunReport report(false, "capture");
  RunSettings settings;
  if (!options.Live()) {
    const int prepared =
        PrepareSettings(options, Command::kCapture, report, settings);
    if (prepared != vplhost::kExitSuccess) return prepared;
  }
  const vplhost::ComApartment apartment;
  if (!apartment.Entered()) return vplhost::kExitFailure;
  int result = vplhost::kExitSuccess;
  try {
    std::optional<vpltest::SimulatedClient> client;
    std::optional<vpltest::sim::HostFacts::Battery> battery;
    std::string comment = "Captured from this machine. ";
    if (settings.scenario) {
      client.emplace(*settings.scenario);
      battery = settings.scenario->Host().battery;
      comment = "Captured from the simulated client of " +
                Narrow(options.scenario) + ". ";
    }
    nlohmann::ordered_json scenario;
    {
      // The product's WMI layer logs every namespace it cannot reach.
      const vplhost::RunReport::MutedLog muted;
      scenario = vplhost::CaptureScenario(comment, battery);
    }
    const DWORD status = vplhost::WriteScenario(*options.out, scenario);
    if (status != ERROR_SUCCESS) {
      report.Error("vplhost: cannot write " + Narrow(*options.out) + ": " +
                   HResultText(HRESULT_FROM_WIN32(status)));
      result = vplhost::kExitFailure;
    } else {
      report.Line("vplhost: captured into %s\n", Narrow(*options.out).c_str());
    }
  } catch (const vpltest::ScenarioError& error) {
    report.Error(std::string("vplhost: scenario: ") + error.what());
    result = vplhost::kExitScenario;
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

bool IsFile(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

// The host's logging entry point, found by the plug-in by name (and by the
// product code linked into vplhost, which explains the plug-in's answers).
extern "C" __declspec(dllexport) int vLogPrintf(const char* format,
                                                va_list args) {
  if (vplhost::RunReport::IsLogMuted()) return 0;
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
    vplhost::PrintUsage(stdout);
    return vplhost::kExitSuccess;
  }
  if (first == L"--version") {
    printf("vplhost %s\n", VPL_VERSION);
    return vplhost::kExitSuccess;
  }
  if (!vplhost::IsCommand(first)) {
    // The plain run: initialise the plug-in at a path and let it go.
    if (first.rfind(L"--", 0) == 0)
      return UsageError("unknown option " + Narrow(first.c_str()));
    if (argc > 1 && !IsFile(first))
      return UsageError("unknown command " + Narrow(first.c_str()) +
                        " (nor a file)");
    if (argc > 2) return UsageError("too many arguments");
    return RunDetails(argc > 1 ? first : vplhost::PluginBesideProgram(),
                      std::string(), false);
  }
  if (argc == 3 &&
      (std::wstring(argv[2]) == L"--help" || std::wstring(argv[2]) == L"/?")) {
    vplhost::PrintCommandUsage(first, stdout);
    return vplhost::kExitSuccess;
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
    return UsageError(problem, json && TakesJson(first), first);
  }
  if (first == L"schedule") return RunSchedule(options);
  if (first == L"jobs") return RunJobs(options);
  if (first == L"capture") return RunCapture(options);
  if (first == L"details")
    return RunDetails(PluginPath(options), PluginOrigin(options), options.json);
  if (first == L"autoshutdown")
    return RunWithPlugin(options, Command::kAutoshutdown);
  return RunWithPlugin(options,
                       first == L"query" ? Command::kQuery : Command::kStatus);
}
