// vplhost: a console stand-in for the host service. It loads VplCMgr.dll the
// way the service does, offers its services, and drives the plug-in.
//
// Each command is a file of its own (tools/vplhost/*Command.cpp) read by one
// option reader (CommandLine.cpp); Usage.cpp lists them and the exit codes.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "tools/vplhost/CommandLine.h"
#include "tools/vplhost/Commands.h"
#include "tools/vplhost/ConsoleText.h"
#include "tools/vplhost/ExitCode.h"
#include "tools/vplhost/PluginLibrary.h"
#include "tools/vplhost/RunReport.h"
#include "tools/vplhost/Usage.h"

namespace {

bool IsFile(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsHelp(const std::wstring& word) {
  return word == L"--help" || word == L"-h" || word == L"/?";
}

// The plain run: initialise the plug-in at a path and let it go.
int RunPlain(int argc, wchar_t** argv) {
  const std::wstring first = argc > 1 ? argv[1] : L"";
  if (first.rfind(L"--", 0) == 0)
    return vplhost::UsageError("unknown option " + vplhost::Narrow(first));
  if (argc > 1 && !IsFile(first))
    return vplhost::UsageError("unknown command " + vplhost::Narrow(first) +
                               " (nor a file)");
  if (argc > 2) return vplhost::UsageError("too many arguments");
  return vplhost::RunDetails(argc > 1 ? first : vplhost::PluginBesideProgram(),
                             std::string(), false);
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
  // The C runtime would read a TZ variable in its own syntax and disagree
  // with the system's zone, which the plug-in's times and vplhost's follow.
  _putenv("TZ=");
  ::SetEnvironmentVariableA("TZ", nullptr);
  _tzset();
  const std::wstring first = argc > 1 ? argv[1] : L"";
  if (IsHelp(first)) {
    vplhost::PrintUsage(stdout);
    return vplhost::kExitSuccess;
  }
  if (first == L"--version") {
    printf("vplhost %s\n", VPL_VERSION);
    return vplhost::kExitSuccess;
  }
  const vplhost::Command* command = vplhost::FindCommand(first);
  if (!command) return RunPlain(argc, argv);
  if (argc == 3 && IsHelp(argv[2])) {
    vplhost::PrintCommandHelp(*command, stdout);
    return vplhost::kExitSuccess;
  }
  vplhost::Options options;
  const std::string problem =
      vplhost::ReadOptions(*command, argc, argv, &options);
  if (!problem.empty()) {
    // A script that asked for JSON gets it even for a command line that is
    // wrong elsewhere.
    bool json = false;
    for (int i = 2; i < argc; ++i)
      json = json || std::wstring(argv[i]) == L"--json";
    return vplhost::UsageError(
        problem, json && (command->options & vplhost::kJsonOption), command);
  }
  return command->run(options);
}
