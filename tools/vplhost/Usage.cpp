#include "tools/vplhost/Usage.h"

#include "tools/vplhost/AutoshutdownConsole.h"

namespace vplhost {
namespace {

struct OptionHelp {
  Option option;
  const char* text;
};

const OptionHelp kOptionHelp[] = {
    {kScenarioOption,
     "  --scenario FILE   replay FILE (a capture or a sample, UTF-8 or\n"
     "                    UTF-16 LE with a byte-order mark): its simulated\n"
     "                    client and settings; without it, this machine\n"},
    {kDllOption,
     "  --dll PATH        the plug-in to load; else where its class is\n"
     "                    registered, else beside vplhost.exe\n"},
    {kOutOption, "  --out FILE        where to write the scenario (UTF-8)\n"},
    {kMonitorOption,
     "  --monitor TEXT    MonitorJobs for the run (\"ON\" turns monitoring "
     "on)\n"},
    {kWindowOption,
     "  --window MINUTES  PendingSMSJobWindowMins for the run, 0 to 10080 (a\n"
     "                    week, as the installer and the template take)\n"},
    {kHoursOption,
     "  --hours N         how far ahead to list, 1 to 8784 hours (default "
     "24)\n"},
    {kAtOption,
     "  --at \"YYYY-MM-DD HH:MM[:SS]\"  the local time to look from (default "
     "now)\n"},
    {kSinceOption,
     "  --since \"YYYY-MM-DD HH:MM\"  only entries whose last decision is at\n"
     "                    or after this local time\n"},
    {kVerboseOption, "  --verbose         the plug-in's verbose lines\n"},
    {kMaintenanceWindowsOption,
     "  --maintenance-windows TEXT  MaintenanceWindows for the run (\"ON\"\n"
     "                    follows the client's maintenance windows)\n"},
    {kJsonOption,
     "  --json            one JSON document on standard output, errors "
     "included\n"},
};

const char kDetails[] =
    "\n"
    "The plug-in is loaded from --dll, else from where its class is\n"
    "registered, else from beside vplhost.exe. Without --scenario, query,\n"
    "status and jobs use this machine: its WMI (the ConfigMgr client, or\n"
    "none), its settings and policy values, its battery and chassis. The\n"
    "plug-in then reads a scratch copy of the settings and policy keys, so a\n"
    "run changes nothing on the machine. With --scenario the scenario's\n"
    "simulated client and settings apply instead. --monitor, --window and\n"
    "--maintenance-windows override either; the output says where each\n"
    "setting came from.\n"
    "With --json, errors too are one JSON document on standard output:\n"
    "{\"error\": {\"exitCode\": N, \"message\": \"...\"}, ...}.\n"
    "--window takes 0 to 10080 minutes (a week, as the installer and the\n"
    "Group Policy template take), --hours 1 to 8784 (default 24).\n"
    "capture writes what the plug-in reads here (or, with --scenario, from\n"
    "the simulated client) as a scenario to replay, in UTF-8.\n"
    "\n"
    "autoshutdown raises the host's auto-shutdown event and plays the host's\n"
    "part in real time; without --scenario the machine's client and a scratch\n"
    "copy of its settings apply (--monitor, --window and --verbose need a\n"
    "scenario). It\n"
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

void PrintUsage(FILE* stream) {
  fputs("usage: vplhost [path\\to\\VplCMgr.dll]\n", stream);
  for (const Command* command : Commands())
    fprintf(stream, "       %s", command->usage);
  fputs("       vplhost --help | COMMAND --help | --version\n", stream);
  fprintf(stream, kDetails, AutoshutdownConsole::kCommands);
}

void PrintCommandUsage(const Command& command, FILE* stream) {
  fprintf(stream, "usage: %s", command.usage);
}

void PrintCommandHelp(const Command& command, FILE* stream) {
  PrintCommandUsage(command, stream);
  fprintf(stream, "\n%s", command.help);
  if (command.options != 0) fputs("\noptions:\n", stream);
  for (const OptionHelp& entry : kOptionHelp) {
    if (command.options & entry.option) fputs(entry.text, stream);
  }
}

}  // namespace vplhost
