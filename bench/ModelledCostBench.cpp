#include "bench/ModelledCostBench.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "bench/BenchScenario.h"
#include "common/SystemCapabilities.h"
#include "jobs/SMSJobsDetector.h"
#include "observer/ObserverSettings.h"
#include "observer/PowerDownJudgement.h"
#include "tests/simclient/SimulatedClient.h"

namespace vplbench {
namespace {

using Reading = SoftwareDistributionPolicies::Reading;
using vpltest::SimMethod;
using vpltest::SimulatedClient;

constexpr int kSizes[] = {100, 1000, 5000};
constexpr int kDefaultRuns = 3;
// The goal at 1,000 messages: this many times faster than per advertisement.
constexpr double kSpeedUpGoal = 20;

struct Way {
  int queries = 0;
  double medianMs = 0;
  PowerDownGround ground = PowerDownGround::kNothingDue;
};

// The observer's own steps (chassis, switch, client, detector) in this
// process, with the detector reading the policies `reading`.
PowerDownGround AskOnce(Reading reading) {
  ObserverSettings settings;
  settings.Load(0);
  const PowerDownJudgement judgement = JudgePowerDown(
      settings, [reading](DWORD window, wchar_t* jobs, wchar_t* updates) {
        auto detector =
            std::make_unique<CSMSJobsDetector>(L"", window, jobs, updates);
        detector->SetPolicyReading(reading);
        return std::unique_ptr<ISMSJobsDetector>(std::move(detector));
      });
  return judgement.ground;
}

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  return 1e3 * static_cast<double>(to.QuadPart - from.QuadPart) /
         frequency.QuadPart;
}

Way Measure(SimulatedClient& client, Reading reading, int runs) {
  Way way;
  const int before = client.CallCount(SimMethod::kExecQuery) +
                     client.CallCount(SimMethod::kGetObject);
  way.ground = AskOnce(reading);
  way.queries = client.CallCount(SimMethod::kExecQuery) +
                client.CallCount(SimMethod::kGetObject) - before;
  std::vector<double> times;
  for (int run = 0; run < runs; ++run) {
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    ::QueryPerformanceCounter(&start);
    const PowerDownGround ground = AskOnce(reading);
    ::QueryPerformanceCounter(&end);
    if (ground != way.ground) way.ground = PowerDownGround::kNoDetector;
    times.push_back(Milliseconds(start, end));
  }
  std::sort(times.begin(), times.end());
  way.medianMs = times[times.size() / 2];
  return way;
}

}  // namespace

bool RunModelledCostBench(int runs, unsigned callCostMs) {
  if (runs <= 0) runs = kDefaultRuns;
  std::printf(
      "One question with each ConnectServer, ExecQuery and GetObject taking "
      "%u ms\n(a model of an out-of-process provider), policies read per "
      "advertisement\n(before) and once per question (after), median of %d "
      "runs\n\n",
      callCostMs, runs);
  std::printf("%8s %14s %11s %14s %11s %8s\n", "messages", "queries before",
              "ms before", "queries after", "ms after", "faster");
  double speedUpAt1000 = 0;
  for (int messages : kSizes) {
    SimulatedClient client(MakeBenchScenario(messages, _time64(nullptr)));
    // The chassis is read once per process, as in the plug-in: not counted.
    NTarn::TheSystemCapabilities().IsPortableChassis();
    client.SetCallCost(callCostMs);
    const Way before = Measure(client, Reading::kPerAdvertisement, runs);
    const Way after = Measure(client, Reading::kOncePerQuestion, runs);
    if (before.ground != PowerDownGround::kNothingDue ||
        after.ground != PowerDownGround::kNothingDue) {
      std::printf("a question did not end with nothing due\n");
      return false;
    }
    const double faster = before.medianMs / after.medianMs;
    if (messages == 1000) speedUpAt1000 = faster;
    std::printf("%8d %14d %11.1f %14d %11.1f %8.1f\n", messages, before.queries,
                before.medianMs, after.queries, after.medianMs, faster);
  }
  std::printf("\nAt 1,000 messages %.1f times faster (goal: %.0f): %s\n",
              speedUpAt1000, kSpeedUpGoal,
              speedUpAt1000 >= kSpeedUpGoal ? "met" : "NOT met");
  return true;
}

}  // namespace vplbench
