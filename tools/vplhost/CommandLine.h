// vplhost's one option reader: every command names the options it takes and
// its own rules beyond them, and the reader holds all of them to that, so a
// command never accepts an option it then ignores.
#pragma once

#include <windows.h>

#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace vplhost {

// The options a command may take, one bit each.
enum Option : unsigned {
  kScenarioOption = 1u << 0,
  kDllOption = 1u << 1,
  kOutOption = 1u << 2,
  kMonitorOption = 1u << 3,
  kWindowOption = 1u << 4,
  kHoursOption = 1u << 5,
  kAtOption = 1u << 6,
  kVerboseOption = 1u << 7,
  kJsonOption = 1u << 8,
  kSinceOption = 1u << 9,
  kMaintenanceWindowsOption = 1u << 10,
};

struct Options {
  std::wstring command;
  std::wstring scenario;
  std::optional<std::wstring> dll;
  std::optional<std::wstring> out;
  std::optional<std::string> monitor;
  std::optional<DWORD> window;
  std::optional<std::string> maintenanceWindows;
  std::optional<unsigned> hours;
  bool verbose = false;
  bool json = false;
  std::optional<__time64_t> at;
  std::optional<__time64_t> since;
  std::vector<std::wstring> operands;

  bool Live() const { return scenario.empty(); }
  // Options that tune the plug-in's settings for the run.
  bool Tuned() const {
    return verbose || window || monitor || maintenanceWindows;
  }
};

struct Command {
  const wchar_t* name;
  // The usage line after "usage: ", the continuation lines aligned.
  const char* usage;
  // What the command does, for COMMAND --help.
  const char* help;
  unsigned options;  // Option bits it takes
  bool takesOperands;
  // The command's own rules beyond the options it takes: a problem, or
  // empty when the command line is usable. Null when there are none.
  std::string (*check)(const Options& options);
  int (*run)(const Options& options);
};

// vplhost's commands in the order the usage lists them.
const std::vector<const Command*>& Commands();
// Null for a word that is no command.
const Command* FindCommand(const std::wstring& name);

// Reads argv[2...] for `command`; a problem, or empty when usable.
std::string ReadOptions(const Command& command, int argc, wchar_t** argv,
                        Options* options);

// Reports a bad command line on standard error (and, with `json`, as the
// one document on standard output) with the usage; kExitUsage.
int UsageError(const std::string& problem, bool json = false,
               const Command* command = nullptr);

}  // namespace vplhost
