// vplbench: what a power-down question costs the plug-in, run by hand under
// Wine (timings depend on the machine, so this is no test).
//
//   vplbench [questions] [modelled] [schedule] [memory] [--runs N]
//            [--questions N] [--call-cost MS]
//
// Without a section name every section runs. "questions" times one
// QueryPowerDown through VplCMgr.dll against simulated clients of 10 to 5,000
// scheduled messages; "modelled" times one question with a fixed cost per WMI
// call (2 ms, or --call-cost), reading the software-distribution policies once
// and, as before, per advertisement; "schedule" times one schedule evaluation
// per recurrence type against the token's age; "memory" shows private bytes and
// handles before and after many questions. Settings live in a scratch key
// standing in for HKEY_LOCAL_MACHINE while the program runs.
#include <stdlib.h>
#include <time.h>
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "bench/BenchHost.h"
#include "bench/ModelledCostBench.h"
#include "bench/QuestionBench.h"
#include "bench/ScheduleBench.h"
#include "tests/support/ScratchLocalMachine.h"

namespace {

constexpr char kSettingsKey[] = "Software\\Tarn\\Vesperline";
constexpr DWORD kPendingWindowMinutes = 30;

struct Options {
  bool questions = false;
  bool modelled = false;
  bool schedule = false;
  bool memory = false;
  int runs = 0;
  int memoryQuestions = 10000;
  int callCostMs = 2;
};

bool ParsePositive(const char* text, int& value) {
  char* stop = nullptr;
  const long number = std::strtol(text, &stop, 10);
  if (!*text || *stop || number < 1 || number > 1000000) return false;
  value = static_cast<int>(number);
  return true;
}

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "questions") {
      options.questions = true;
    } else if (option == "modelled") {
      options.modelled = true;
    } else if (option == "schedule") {
      options.schedule = true;
    } else if (option == "memory") {
      options.memory = true;
    } else if ((option == "--runs" || option == "--questions" ||
                option == "--call-cost") &&
               i + 1 < argc) {
      int& value = option == "--runs"        ? options.runs
                   : option == "--questions" ? options.memoryQuestions
                                             : options.callCostMs;
      if (!ParsePositive(argv[++i], value)) return false;
    } else {
      return false;
    }
  }
  if (!options.questions && !options.modelled && !options.schedule &&
      !options.memory) {
    options.questions = options.modelled = options.schedule = options.memory =
        true;
  }
  return true;
}

bool RunPluginSections(const Options& options) {
  vpltest::ScratchLocalMachine machine;
  // Monitoring on, a half-hour window, no diagnostic lines: a host's
  // ordinary question.
  machine.Set(kSettingsKey, "MonitorJobs", std::string("ON"));
  machine.Set(kSettingsKey, "PendingSMSJobWindowMins", kPendingWindowMinutes);
  machine.Set(kSettingsKey, "debug", DWORD{0});
  vplbench::BenchHost host;
  bool ok = true;
  if (options.questions) {
    ok = vplbench::RunQuestionBench(host, options.runs) && ok;
    std::printf("\n");
  }
  if (options.modelled) {
    ok = vplbench::RunModelledCostBench(options.runs, options.callCostMs) && ok;
    std::printf("\n");
  }
  if (options.memory) {
    ok = vplbench::RunMemoryBench(host, options.memoryQuestions) && ok;
    std::printf("\n");
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: vplbench [questions] [modelled] [schedule] [memory] "
                 "[--runs N] [--questions N] [--call-cost MS]\n");
    return 2;
  }
  // Zones are chosen with the Unix TZ, which Wine maps to the Windows zone;
  // the runtime would misread the same text in Windows syntax.
  _putenv("TZ=");
  ::SetEnvironmentVariableA("TZ", nullptr);
  _tzset();

  bool ok = true;
  if (options.questions || options.modelled || options.memory) {
    if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
    try {
      ok = RunPluginSections(options);
    } catch (const std::exception& error) {
      std::fprintf(stderr, "vplbench: %s\n", error.what());
      ok = false;
    }
    ::CoUninitialize();
  }
  if (options.schedule) ok = vplbench::RunScheduleBench() && ok;
  std::fflush(stdout);
  return ok ? 0 : 1;
}
