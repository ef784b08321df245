#include "bench/BenchLog.h"

#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "tools/vplhost/ConsoleText.h"

namespace vplbench {
namespace {

std::atomic<long> g_calls{0};
std::mutex g_lastMutex;
std::string g_last;

}  // namespace

long LoggedCalls() { return g_calls.load(); }

std::string LastLogged() {
  std::lock_guard<std::mutex> lock(g_lastMutex);
  return g_last;
}

}  // namespace vplbench

// The host's logging entry point, found by the plug-in by name.
extern "C" __declspec(dllexport) int vLogPrintf(const char* format,
                                                va_list args) {
  ++vplbench::g_calls;
  const std::string expanded = vplhost::ExpandTimeStamp(format, "[T]");
  char text[512];
  const int length = vsnprintf(text, sizeof(text), expanded.c_str(), args);
  std::lock_guard<std::mutex> lock(vplbench::g_lastMutex);
  vplbench::g_last = text;
  return length;
}
