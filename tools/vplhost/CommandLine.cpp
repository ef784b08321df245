#include "tools/vplhost/CommandLine.h"

#include <cerrno>
#include <cstdio>
#include <cwchar>

#include "tools/vplhost/Commands.h"
#include "tools/vplhost/ConsoleText.h"
#include "tools/vplhost/ExitCode.h"
#include "tools/vplhost/RunReport.h"
#include "tools/vplhost/ScheduleReport.h"
#include "tools/vplhost/Usage.h"

namespace vplhost {
namespace {

// The window the installer and the Group Policy template take (a week), and
// the longest look ahead of `jobs`, a leap year.
constexpr unsigned long long kMaxWindowMinutes = 10080ULL;
constexpr unsigned long long kMaxHours = 8784ULL;

struct OptionName {
  Option option;
  const wchar_t* name;
  bool takesValue;
};

const OptionName kOptionNames[] = {
    {kScenarioOption, L"--scenario", true},
    {kDllOption, L"--dll", true},
    {kOutOption, L"--out", true},
    {kMonitorOption, L"--monitor", true},
    {kWindowOption, L"--window", true},
    {kHoursOption, L"--hours", true},
    {kAtOption, L"--at", true},
    {kSinceOption, L"--since", true},
    {kVerboseOption, L"--verbose", false},
    {kJsonOption, L"--json", false},
    {kMaintenanceWindowsOption, L"--maintenance-windows", true},
};

const OptionName* FindOption(const std::wstring& name) {
  for (const OptionName& entry : kOptionNames) {
    if (name == entry.name) return &entry;
  }
  return nullptr;
}

// "query, status and jobs": the commands that take `option`.
std::string CommandsTaking(Option option) {
  std::vector<std::string> names;
  for (const Command* command : Commands()) {
    if (command->options & option) names.push_back(Narrow(command->name));
  }
  std::string text;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() ? " and " : ", ";
    text += names[i];
  }
  return text;
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

// Reads one option's value; a problem, or empty when it is usable.
std::string ReadValue(Option option, const wchar_t* text, Options* options) {
  switch (option) {
    case kScenarioOption:
      options->scenario = text;
      break;
    case kDllOption:
      options->dll = text;
      break;
    case kOutOption:
      options->out = text;
      break;
    case kMonitorOption:
      options->monitor = Narrow(text);
      break;
    case kWindowOption: {
      unsigned long long minutes = 0;
      if (!ParseNumber(text, kMaxWindowMinutes, &minutes))
        return "--window needs a number of minutes from 0 to 10080";
      options->window = static_cast<DWORD>(minutes);
      break;
    }
    case kHoursOption: {
      unsigned long long hours = 0;
      if (!ParseNumber(text, kMaxHours, &hours) || hours == 0)
        return "--hours needs a number of hours from 1 to 8784";
      options->hours = static_cast<unsigned>(hours);
      break;
    }
    case kAtOption: {
      __time64_t at = 0;
      if (!ParseLocalTime(text, &at))
        return "--at needs a local time \"YYYY-MM-DD HH:MM\"";
      options->at = at;
      break;
    }
    case kSinceOption: {
      __time64_t since = 0;
      if (!ParseLocalTime(text, &since))
        return "--since needs a local time \"YYYY-MM-DD HH:MM\"";
      options->since = since;
      break;
    }
    case kVerboseOption:
      options->verbose = true;
      break;
    case kJsonOption:
      options->json = true;
      break;
    case kMaintenanceWindowsOption:
      options->maintenanceWindows = Narrow(text);
      break;
  }
  return std::string();
}

}  // namespace

const std::vector<const Command*>& Commands() {
  static const std::vector<const Command*> commands = {
      &kDetailsCommand,      &kQueryCommand,   &kStatusCommand,   &kJobsCommand,
      &kAutoshutdownCommand, &kCaptureCommand, &kScheduleCommand,
      &kHistoryCommand,
  };
  return commands;
}

const Command* FindCommand(const std::wstring& name) {
  for (const Command* command : Commands()) {
    if (name == command->name) return command;
  }
  return nullptr;
}

std::string ReadOptions(const Command& command, int argc, wchar_t** argv,
                        Options* options) {
  options->command = command.name;
  const std::string name = Narrow(command.name);
  for (int i = 2; i < argc; ++i) {
    const std::wstring word = argv[i];
    const OptionName* option = FindOption(word);
    if (!option) {
      if (word.rfind(L"--", 0) == 0) return "unknown option " + Narrow(word);
      if (!command.takesOperands) return "unexpected argument " + Narrow(word);
      options->operands.push_back(word);
      continue;
    }
    if (!(command.options & option->option)) {
      return Narrow(word) + " does not apply to " + name + " (it applies to " +
             CommandsTaking(option->option) + ")";
    }
    const wchar_t* value = nullptr;
    if (option->takesValue) {
      if (i + 1 >= argc) return Narrow(word) + " needs a value";
      value = argv[++i];
    }
    const std::string problem = ReadValue(option->option, value, options);
    if (!problem.empty()) return problem;
  }
  return command.check ? command.check(*options) : std::string();
}

int UsageError(const std::string& problem, bool json, const Command* command) {
  fprintf(stderr, "vplhost: %s\n", problem.c_str());
  if (json) {
    fputs(RunReport::ErrorJson(command ? Narrow(command->name) : std::string(),
                               kExitUsage, "vplhost: " + problem)
              .c_str(),
          stdout);
    return kExitUsage;
  }
  if (command) {
    PrintCommandUsage(*command, stderr);
  } else {
    PrintUsage(stderr);
  }
  return kExitUsage;
}

}  // namespace vplhost
