#include "tools/vplhost/Usage.h"

#include <iterator>

#include "tools/vplhost/AutoshutdownConsole.h"

namespace vplhost {
namespace {

struct CommandUsage {
  const wchar_t* name;
  const char* usage;
};

const CommandUsage kCommands[] = {
    {L"details", "vplhost details [--dll PATH]\n"},
    {L"query",
     "vplhost query [--scenario FILE] [--dll PATH] [--monitor TEXT]\n"
     "              [--window MINUTES] [--verbose] [--json]\n"},
    {L"status", "vplhost status [--scenario FILE] [--dll PATH] [--json]\n"},
    {L"jobs",
     "vplhost jobs [--scenario FILE] [--window MINUTES] [--hours N] "
     "[--json]\n"},
    {L"autoshutdown",
     "vplhost autoshutdown [--scenario FILE] [--dll PATH] [--monitor TEXT]\n"
     "                     [--window MINUTES] [--verbose]\n"},
    {L"capture", "vplhost capture --out FILE [--scenario FILE]\n"},
    {L"schedule",
     "vplhost schedule [--json] [--at \"YYYY-MM-DD HH:MM\"] TOKEN...\n"},
};

const char kDetails[] =
    "\n"
    "The plug-in is loaded from --dll, else from where its class is\n"
    "registered, else from beside vplhost.exe. Without --scenario, query,\n"
    "status and jobs use this machine: its WMI (the ConfigMgr client, or\n"
    "none), its settings and policy values, its battery and chassis. The\n"
    "plug-in then reads a scratch copy of the settings and policy keys, so a\n"
    "run changes nothing on the machine. With --scenario the scenario's\n"
    "simulated client and settings apply instead. --monitor and --window\n"
    "override either; the output says where each setting came from.\n"
    "With --json, errors too are one JSON document on standard output:\n"
    "{\"error\": {\"exitCode\": N, \"message\": \"...\"}, ...}.\n"
    "--window takes 0 to 2147483647 minutes, --hours 1 to 8784 (default 24).\n"
    "capture writes what the plug-in reads here (or, with --scenario, from\n"
    "the simulated client) as a scenario to replay, in UTF-8.\n"
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

}  // namespace

bool IsCommand(const std::wstring& command) {
  for (const CommandUsage& entry : kCommands) {
    if (command == entry.name) return true;
  }
  return false;
}

void PrintUsage(FILE* stream) {
  fputs("usage: vplhost [path\\to\\VplCMgr.dll]\n", stream);
  for (const CommandUsage& entry : kCommands)
    fprintf(stream, "       %s", entry.usage);
  fputs("       vplhost --help | COMMAND --help | --version\n", stream);
  fprintf(stream, kDetails, AutoshutdownConsole::kCommands);
}

void PrintCommandUsage(const std::wstring& command, FILE* stream) {
  for (const CommandUsage& entry : kCommands) {
    if (command == entry.name) {
      fprintf(stream, "usage: %s", entry.usage);
      return;
    }
  }
  PrintUsage(stream);
}

}  // namespace vplhost
