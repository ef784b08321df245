// The detector's ignored-state lists, and its running-deployment and
// running-update questions against the simulated client.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/Logging.h"
#include "common/wmi/WbemTimeout.h"
#include "jobs/AutomationDate.h"
#include "jobs/DateTime.h"
#include "jobs/SMSJobsDetector.h"
#include "tests/support/DebugFlagsScope.h"
#include "tests/support/PinnedClock.h"
#include "tests/support/SimClientFixture.h"

using NTarn::DebugFlags;
namespace debug_flags = NTarn::debug_flags;

namespace {

using vpltest::LogCapture;
using Lines = std::vector<std::string>;
using Texts = std::vector<std::wstring>;
using Numbers = std::vector<LONG>;

template <typename T>
std::vector<T> Plus(std::vector<T> list, std::vector<T> more) {
  list.insert(list.end(), more.begin(), more.end());
  return list;
}
const Texts kJobs = {L"WaitingDisabled", L"WaitingEnvironment",
                     L"ReportStatusAtReboot", L"AdvancedDownload"};
const Numbers kUpdates = {0, 1, 10, 11, 12, 14, 15, 16};

TEST(SMSJobsDetectorInitTest, SettingsOnlyAddToTheDefaults) {
  // clang-format off
  const struct { std::wstring jobs, updates; Texts jobList; Numbers updateList; } cases[] = {
      {L"", L"", kJobs, kUpdates},
      {L";;Paused,,Held;", L"error;VERIFYING", Plus(kJobs, {L"Paused", L"Held"}), Plus(kUpdates, {15, 13})},
      {L" Paused", L"Installing, Verifying,Bogus", Plus(kJobs, {L" Paused"}), Plus(kUpdates, {9})},
      {L"", L"WaitingServiceWindow", kJobs, Plus(kUpdates, {16})},
  };
  // clang-format on
  vpltest::DebugFlagsScope flags(0);
  CSMSJobsDetector detector(L"", 5, nullptr, nullptr);
  EXPECT_EQ(detector.IgnoredJobStates(), kJobs);
  for (auto test : cases) {  // each Init starts again from the defaults
    detector.Init(30, test.jobs.data(), test.updates.data());
    EXPECT_EQ(detector.IgnoredJobStates(), test.jobList);
    EXPECT_EQ(detector.IgnoredUpdateStates(), test.updateList);
  }
  EXPECT_TRUE(LogCapture::Messages().empty());

  DebugFlags.store(debug_flags::kVerbose);
  std::wstring held = L"Held", installing = L"Installing";
  detector.Init(0, held.data(), installing.data());
  // clang-format off
  EXPECT_EQ(LogCapture::Messages(), (Lines{
      "[T]: Ignored states for SMS running deployments:\t", "WaitingDisabled\t", "WaitingEnvironment\t",
      "ReportStatusAtReboot\t", "AdvancedDownload\t", "Held\t", "\n",
      "[T]: Ignored states for SMS running software updates:\t", "None\t", "Available\t", "PendingSoftReboot\t",
      "PendingHardReboot\t", "WaitReboot\t", "InstallComplete\t", "Error\t", "WaitingServiceWindow\t", "Installing\t", "\n"}));
}

// Builders of the simulated client's data and of the lines logged about it.
std::string Client(const std::string& ns, const std::string& classes) {
  return R"({"namespaces": {"root\\ccm": {}, "root\\ccm\\)" + ns + R"(": {)" + classes + "}}}";
}
std::string Requests(const std::string& cls, const std::string& requests) {
  return Client("SoftMgmtAgent", "\"" + cls + "\": [" + requests + "]");
}
std::string Request(const std::string& id, const std::string& state) {
  return R"({"ContentID": ")" + id + R"(", "AdvertID": "A", "State": )" + state + R"(, "RunningState": "Running"})";
}
std::string Job(const char* verb, const std::string& id, const std::string& state) {
  return std::string("[T]: ") + verb + " running SMS job \"" + id +
         "\" (AdvertID=\"A\", RunningState=\"Running\", State=\"" + state + "\")\n";
}
std::string Updates(const std::string& status1, const std::string& status2) {
  return Client("SoftwareUpdates\\\\DeploymentAgent",
                R"("CCM_TargetedUpdateEx1": [{"UpdateId": "U1", "UpdateState": 0, "UpdateStatus": )" + status1 +
                    R"(}, {"UpdateId": "U2", "UpdateState": 0, "UpdateStatus": )" + status2 + "}]");
}
std::string Update(const char* verb, const std::string& id, int status) {
  return std::string("[T]: ") + verb + " running SCCM software update \"" + id +
         "\" (UpdateStatus=" + std::to_string(status) + ")\n";
}
// clang-format on
const std::string kTry = "[T]: CSMSJobsDetector::SMSDeploymentsAreRunning: ";
const std::string kEx = kTry + "Trying 'CCM_ExecutionRequestEx'...\n";

class RunningJobsTest : public vpltest::SimClientFixture {};

TEST_F(RunningJobsTest, WalksTheWholeResult) {
  // Ask the update question when `updateStates` is not empty ("None" adds
  // nothing); `stallAt` is the fetch that times out (the first is the
  // query's).
  // clang-format off
  const struct { std::string scenario; std::wstring updateStates; int stallAt; bool running; Lines lines; } cases[] = {
      // A task sequence's request is an execution request too: the first query finds it.
      {Requests("CCM_TSExecutionRequest", Request("T", R"("Run")")), L"", 0, true, {kEx, Job("Found", "T", "Run")}},
      {Requests("ExecutionRequest", Request("E", R"("Run")")), L"", 0, true,
       {kEx, kTry + "'CCM_ExecutionRequestEx' failed...trying 'CCM_ExecutionRequest'...\n",
        kTry + "'CCM_ExecutionRequest' failed...trying 'ExecutionRequest'...\n", Job("Found", "E", "Run")}},
      {Requests("CCM_ExecutionRequestEx", Request("C1", R"("waitingdisabled")") + "," + Request("C2", "null")),
       L"", 0, true, {kEx, Job("Ignoring", "C1", "waitingdisabled"), Job("Found", "C2", "")}},
      // A first object that never comes fails the query: the other class names are tried.
      {Requests("CCM_ExecutionRequestEx", Request("C", R"("Run")")), L"", 1, false,
       {kEx, kTry + "'CCM_ExecutionRequestEx' failed...trying 'CCM_ExecutionRequest'...\n",
        kTry + "'CCM_ExecutionRequest' failed...trying 'ExecutionRequest'...\n",
        kTry + "'ExecutionRequest' failed...trying 'CCM_TSExecutionRequest'...\n",
        "[T]: CSMSJobsDetector::SMSJobsAreRunning: Failed all four query attempts - bailing out with no jobs found\n"}},
      {Updates("7", "15"), L"None", 0, true, {Update("Found", "U1", 7), Update("Ignoring", "U2", 15)}},
      {Updates("9", "null"), L"Installing", 0, false,
       {Update("Ignoring", "U1", 9), "[T]: CSMSJobsDetector::SMSSoftwareUpdatesAreRunning: "
                                     "Error while retrieving property values.\n"}},
      {Updates("15", "7"), L"None", 2, false, {Update("Ignoring", "U1", 15)}},
      // An unreadable update does not end the walk: a running one follows.
      {Updates("null", "7"), L"None", 0, true,
       {"[T]: CSMSJobsDetector::SMSSoftwareUpdatesAreRunning: Error while retrieving property values.\n", Update("Found", "U2", 7)}},
  };
  // clang-format on
  for (auto test : cases) {
    SCOPED_TRACE(test.scenario);
    Load(test.scenario);
    if (test.stallAt) Sim().TimeOutNext(test.stallAt);
    vpltest::DebugFlagsScope flags(debug_flags::kVerbose);
    CSMSJobsDetector detector(L"", 0, nullptr, test.updateStates.data());
    LogCapture::Clear();
    EXPECT_EQ(test.updateStates.empty()
                  ? detector.SMSDeploymentsAreRunning()
                  : detector.SMSSoftwareUpdatesAreRunning(),
              test.running);
    EXPECT_EQ(LogCapture::Messages(), test.lines);
    // A stalled provider is waited for within the per-object limit.
    EXPECT_EQ(Sim().LastCalls().nextTimeout, NTarn::kWbemCallTimeoutMs);
  }
}

TEST_F(RunningJobsTest, StaleRequestsNeedALimit) {
  const __time64_t now = MakeLocalTime(2026, 3, 10, 10, 0, 0, kDstAutomatic);
  vpltest::PinnedClock clock(now);
  const auto digits = [now](int hoursAgo) {
    const std::wstring text =
        CAutomationDate(now - hoursAgo * 3600).Format(L"%Y%m%d%H%M%S");
    return std::string(text.begin(), text.end()) + ".000000+000";
  };
  const auto received = [](const std::string& id, const std::string& time) {
    return R"({"ContentID": ")" + id +
           R"(", "AdvertID": "A", "State": "Running", "RunningState": "Running", "ReceivedTime": )" +
           time + "}";
  };
  const std::string old = received("O", "\"" + digits(72) + "\""),
                    fresh = received("F", "\"" + digits(23) + "\""),
                    exact = received("E", "\"" + digits(24) + "\""),
                    unknown = received("U", "null");
  const std::string stale =
      "[T]: Ignoring stale SMS job \"O\" (AdvertID=\"A\", State=\"Running\", "
      "ReceivedTime=\"" +
      digits(72) + "\", StaleJobHours=24)\n";
  // clang-format off
  const struct { std::string requests; DWORD hours; bool running; Lines lines; } cases[] = {
      {old + "," + fresh + "," + unknown, 0, true, {kEx, Job("Found", "O", "Running"), Job("Found", "F", "Running"), Job("Found", "U", "Running")}},
      {old + "," + fresh + "," + unknown, 24, true, {kEx, stale, Job("Found", "F", "Running"), Job("Found", "U", "Running")}},
      {old, 24, false, {kEx, stale}},
      // Received exactly the limit ago: not more than 24 hours.
      {exact, 24, true, {kEx, Job("Found", "E", "Running")}},
  };
  // clang-format on
  for (const auto& test : cases) {
    SCOPED_TRACE(test.hours);
    Load(Requests("CCM_ExecutionRequestEx", test.requests));
    vpltest::DebugFlagsScope flags(debug_flags::kVerbose);
    CSMSJobsDetector detector(L"", 0, nullptr, nullptr);
    detector.SetStaleJobHours(test.hours);
    LogCapture::Clear();
    EXPECT_EQ(detector.SMSDeploymentsAreRunning(), test.running);
    EXPECT_EQ(LogCapture::Messages(), test.lines);
  }
}

TEST_F(RunningJobsTest, UnreachableClientIsLoggedWhateverTheFlags) {
  vpltest::DebugFlagsScope flags(0);
  CSMSJobsDetector detector(L"", 0, nullptr, nullptr);
  Load(Client("SoftMgmtAgent", ""));
  EXPECT_FALSE(detector.SMSDeploymentsAreRunning());
  Load(R"({"namespaces": {"root\\ccm": {}}})");
  EXPECT_FALSE(detector.SMSDeploymentsAreRunning());
  EXPECT_FALSE(detector.SMSSoftwareUpdatesAreRunning());
  EXPECT_EQ(LogCapture::Messages(),
            (Lines{"[T]: CSMSJobsDetector::SMSJobsAreRunning: Failed all four "
                   "query attempts - bailing out with no jobs found\n",
                   "[T]: Failed to connect to root\\CCM\\SoftMgmtAgent: "
                   "WBEM_E_INVALID_NAMESPACE\n",
                   "[T]: Failed to connect to root\\CCM\\SoftwareUpdates\\"
                   "DeploymentAgent: WBEM_E_INVALID_NAMESPACE\n",
                   "[T]: CSMSJobsDetector::SMSSoftwareUpdatesAreRunning: "
                   "Unknown Error\n"}));
}

}  // namespace
