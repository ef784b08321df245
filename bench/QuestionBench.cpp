#include "bench/QuestionBench.h"

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "bench/BenchHost.h"
#include "bench/BenchLog.h"
#include "bench/BenchScenario.h"
#include "tests/simclient/SimulatedClient.h"

namespace vplbench {
namespace {

using vpltest::SimMethod;
using vpltest::SimulatedClient;

constexpr int kSizes[] = {10, 100, 1000, 5000};
constexpr int kWarmUpQuestions = 2;
// The target: the cost per message at 5,000 messages within this factor of
// the cost at 100.
constexpr double kFlatnessTarget = 1.5;

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to.QuadPart - from.QuadPart) / frequency.QuadPart;
}

// Every scenario is built to be answered with no objection after a walk over
// all its messages; anything else means the figures measure something else.
bool AskExpectingNoObjection(BenchHost& host) {
  if (host.Ask() == PowerDownResponse_NoObjection) return true;
  std::printf("unexpected objection; last log line: %s\n",
              LastLogged().c_str());
  return false;
}

int RunsFor(int messages, int runs) {
  if (runs > 0) return runs;
  return messages <= 100 ? 21 : (messages <= 1000 ? 15 : 9);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle]
                           : (values[middle - 1] + values[middle]) / 2;
}

struct Row {
  int messages = 0;
  int runs = 0;
  double medianMs = 0;
  double perMessageUs = 0;
  int connections = 0;
  int queries = 0;
  long logged = 0;
};

bool Measure(BenchHost& host, int messages, int runs, Row& row) {
  SimulatedClient client(MakeBenchScenario(messages, _time64(nullptr)));
  for (int i = 0; i < kWarmUpQuestions; ++i) {
    if (!AskExpectingNoObjection(host)) return false;
  }
  // The calls of one question.
  const int connects = client.CallCount(SimMethod::kConnectServer);
  const int queries = client.CallCount(SimMethod::kExecQuery) +
                      client.CallCount(SimMethod::kGetObject);
  const long logged = LoggedCalls();
  if (!AskExpectingNoObjection(host)) return false;
  row.connections = client.CallCount(SimMethod::kConnectServer) - connects;
  row.queries = client.CallCount(SimMethod::kExecQuery) +
                client.CallCount(SimMethod::kGetObject) - queries;
  row.logged = LoggedCalls() - logged;

  std::vector<double> times;
  for (int run = 0; run < runs; ++run) {
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    ::QueryPerformanceCounter(&start);
    const PowerDownResponse response = host.Ask();
    ::QueryPerformanceCounter(&end);
    if (response != PowerDownResponse_NoObjection) {
      std::printf("unexpected objection; last log line: %s\n",
                  LastLogged().c_str());
      return false;
    }
    times.push_back(Seconds(start, end));
  }
  row.messages = messages;
  row.runs = runs;
  row.medianMs = Median(times) * 1e3;
  row.perMessageUs = row.medianMs * 1e3 / messages;
  return true;
}

struct Usage {
  SIZE_T privateBytes = 0;
  DWORD handles = 0;
};

// Committed private pages, walked region by region: what PrivateUsage
// counts, for systems (Wine) that leave that counter at 0.
SIZE_T CommittedPrivateBytes() {
  SIZE_T total = 0;
  MEMORY_BASIC_INFORMATION region;
  for (const char* address = nullptr;
       ::VirtualQuery(address, &region, sizeof(region)) == sizeof(region);
       address =
           static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
      total += region.RegionSize;
  }
  return total;
}

// Open handles found by asking after every possible value, for systems
// (Wine) whose GetProcessHandleCount answers 0. Handle values are multiples
// of four from a small table.
DWORD ProbedHandleCount() {
  constexpr uintptr_t kHighestProbed = 1 << 18;
  DWORD count = 0;
  for (uintptr_t value = 4; value <= kHighestProbed; value += 4) {
    DWORD flags = 0;
    if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags))
      ++count;
  }
  return count;
}

// Whether the system's own counters work; otherwise the walks above stand
// in, and the table says so.
struct UsageSource {
  bool privateUsage = true;
  bool handleCount = true;
};

Usage CurrentUsage(const UsageSource& source) {
  Usage usage;
  if (source.privateUsage) {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof(counters);
    if (::GetProcessMemoryInfo(
            ::GetCurrentProcess(),
            reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
            sizeof(counters))) {
      usage.privateBytes = counters.PrivateUsage;
    }
  } else {
    usage.privateBytes = CommittedPrivateBytes();
  }
  if (source.handleCount) {
    if (!::GetProcessHandleCount(::GetCurrentProcess(), &usage.handles))
      usage.handles = 0;
  } else {
    usage.handles = ProbedHandleCount();
  }
  return usage;
}

UsageSource ChooseUsageSource() {
  UsageSource source;
  const Usage probe = CurrentUsage(source);
  // A running process always holds memory and handles.
  source.privateUsage = probe.privateBytes != 0;
  source.handleCount = probe.handles != 0;
  return source;
}

}  // namespace

bool RunQuestionBench(BenchHost& host, int runs) {
  {
    // The due messages are due: with their advertisements live, the
    // question objects.
    SimulatedClient client(MakeBenchScenario(100, _time64(nullptr), false));
    if (host.Ask() != PowerDownResponse_Objection) {
      std::printf("the due messages of the scenario are not due\n");
      return false;
    }
  }
  std::printf(
      "QueryPowerDown through VplCMgr.dll, median of the timed runs\n\n");
  std::printf("%8s %5s %11s %13s %8s %12s %8s %7s\n", "messages", "runs",
              "median ms", "us/message", "vs 100", "connections", "queries",
              "logged");
  std::vector<Row> rows;
  double per100 = 0;
  for (int messages : kSizes) {
    Row row;
    if (!Measure(host, messages, RunsFor(messages, runs), row)) return false;
    if (messages == 100) per100 = row.perMessageUs;
    std::printf("%8d %5d %11.2f %13.2f", row.messages, row.runs, row.medianMs,
                row.perMessageUs);
    if (per100 > 0) {
      std::printf(" %8.2f", row.perMessageUs / per100);
    } else {
      std::printf(" %8s", "-");
    }
    std::printf(" %12d %8d %7ld\n", row.connections, row.queries, row.logged);
    rows.push_back(row);
  }
  const double ratio = rows.back().perMessageUs / per100;
  std::printf(
      "\n5,000 messages cost %.2f times the 100 figure per message "
      "(target: at most %.1f): %s\n",
      ratio, kFlatnessTarget, ratio <= kFlatnessTarget ? "met" : "NOT met");
  return true;
}

bool RunMemoryBench(BenchHost& host, int questions) {
  constexpr int kMessages = 20;  // one of each kind of scheduled message
  constexpr int kWarmUp = 200;
  SimulatedClient client(MakeBenchScenario(kMessages, _time64(nullptr)));
  for (int i = 0; i < kWarmUp; ++i) {
    if (!AskExpectingNoObjection(host)) return false;
  }
  const UsageSource source = ChooseUsageSource();
  const Usage before = CurrentUsage(source);
  const long live = SimulatedClient::LiveObjects();
  LARGE_INTEGER start;
  LARGE_INTEGER end;
  ::QueryPerformanceCounter(&start);
  for (int i = 0; i < questions; ++i) {
    if (!AskExpectingNoObjection(host)) return false;
  }
  ::QueryPerformanceCounter(&end);
  const Usage after = CurrentUsage(source);
  std::printf(
      "%d questions against %d messages (after %d to warm up), "
      "%.1f s\n\n",
      questions, kMessages, kWarmUp, Seconds(start, end));
  std::printf("%-26s %14s %14s %10s\n", "", "before", "after", "change");
  std::printf(
      "%-26s %14llu %14llu %+10lld\n",
      source.privateUsage ? "private bytes" : "private bytes (committed)",
      static_cast<unsigned long long>(before.privateBytes),
      static_cast<unsigned long long>(after.privateBytes),
      static_cast<long long>(after.privateBytes) -
          static_cast<long long>(before.privateBytes));
  std::printf(
      "%-26s %14lu %14lu %+10ld\n", "handles", before.handles, after.handles,
      static_cast<long>(after.handles) - static_cast<long>(before.handles));
  std::printf("%-26s %14ld %14ld %+10ld\n", "simulated WMI objects alive", live,
              SimulatedClient::LiveObjects(),
              SimulatedClient::LiveObjects() - live);
  return true;
}

}  // namespace vplbench
