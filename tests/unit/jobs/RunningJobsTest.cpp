// The running-deployment and running-update questions against the simulated
// client.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/Logging.h"
#include "common/wmi/WbemInstanceList.h"
#include "jobs/SMSJobsDetector.h"
#include "tests/support/DebugFlagsScope.h"
#include "tests/support/LogCapture.h"
#include "tests/support/SimClientFixture.h"

namespace {

using vpltest::DebugFlagsScope;
using vpltest::LogCapture;
using vpltest::SimMethod;
using Lines = std::vector<std::string>;

constexpr uint32_t kVerbose = debug_flags::kVerbose;

// A client with `classes` (JSON members) in root\ccm\SoftMgmtAgent.
std::string Agent(const std::string& classes) {
  return R"({"namespaces": {"root\\ccm": {}, "root\\ccm\\SoftMgmtAgent": {)" +
         classes + "}}}";
}
std::string Request(const std::string& content, const std::string& state,
                    const std::string& runningState = "Running") {
  return R"({"ContentID": ")" + content + R"(", "AdvertID": "A-)" + content +
         R"(", "State": ")" + state + R"(", "RunningState": ")" + runningState +
         R"("})";
}
std::string Found(const std::string& content, const std::string& state,
                  const std::string& runningState = "Running") {
  return "[T]: Found running SMS job \"" + content + "\" (AdvertID=\"A-" +
         content + "\", RunningState=\"" + runningState + "\", State=\"" +
         state + "\")\n";
}
std::string Ignoring(const std::string& content, const std::string& state) {
  return "[T]: Ignoring running SMS job \"" + content + "\" (AdvertID=\"A-" +
         content + "\", RunningState=\"Running\", State=\"" + state + "\")\n";
}

const std::string kTrying =
    "[T]: CSMSJobsDetector::SMSDeploymentsAreRunning: Trying "
    "'CCM_ExecutionRequestEx'...\n";
const Lines kFallThrough = {
    "[T]: CSMSJobsDetector::SMSDeploymentsAreRunning: 'CCM_ExecutionRequestEx' "
    "failed...trying 'CCM_ExecutionRequest'...\n",
    "[T]: CSMSJobsDetector::SMSDeploymentsAreRunning: 'CCM_ExecutionRequest' "
    "failed...trying 'ExecutionRequest'...\n",
    "[T]: CSMSJobsDetector::SMSDeploymentsAreRunning: 'ExecutionRequest' "
    "failed...trying 'CCM_TSExecutionRequest'...\n"};
const std::string kAllFourFailed =
    "[T]: CSMSJobsDetector::SMSJobsAreRunning: Failed all four query attempts "
    "- bailing out with no jobs found\n";
const std::string kRequestPropertyError =
    "[T]: CSMSJobsDetector::SMSJobsAreRunning: Error while retrieving property "
    "values.\n";

Lines Concat(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& part : parts)
    all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Asks a detector with the default lists, logging only the question.
bool DeploymentsRunning() {
  CSMSJobsDetector detector(L"", 0, nullptr, nullptr);
  LogCapture::Clear();
  return detector.SMSDeploymentsAreRunning();
}

class RunningJobsTest : public vpltest::SimClientFixture {};

struct DeploymentCase {
  const char* name;
  std::string scenario;
  uint32_t flags;
  bool running;
  Lines lines;
};

TEST_F(RunningJobsTest, Deployments) {
  const DeploymentCase cases[] = {
      {"only the task-sequence class",
       Agent(R"("CCM_TSExecutionRequest": [)" + Request("TS1", "Running") +
             "]"),
       kVerbose, true,
       Concat({{kTrying}, kFallThrough, {Found("TS1", "Running")}})},
      {"all four classes missing, verbose clear",
       Agent(""),
       0,
       false,
       {kAllFourFailed}},
      {"namespace missing",
       R"({"namespaces": {"root\\ccm": {}}})",
       kVerbose,
       false,
       {kTrying,
        "[T]: Failed to connect to root\\CCM\\SoftMgmtAgent: "
        "WBEM_E_INVALID_NAMESPACE\n"}},
      {"ignored and running, in result order",
       Agent(R"("CCM_ExecutionRequestEx": [)" +
             Request("C1", "waitingdisabled") + "," +
             Request("C2", "Downloading", "NotifyExecution") + "," +
             Request("C3", "ReportStatusAtReboot") + "]"),
       kVerbose,
       true,
       {kTrying, Ignoring("C1", "waitingdisabled"),
        Found("C2", "Downloading", "NotifyExecution"),
        Ignoring("C3", "ReportStatusAtReboot")}},
      {"a trailing blank is another state",
       Agent(R"("CCM_ExecutionRequestEx": [)" +
             Request("C1", "AdvancedDownload ") + "]"),
       0,
       true,
       {}},
      {"empty result",
       Agent(R"("CCM_ExecutionRequestEx": [])"),
       kVerbose,
       false,
       {kTrying}},
      {"NULL and non-string properties read as empty",
       Agent(R"("CCM_ExecutionRequestEx": {"ContentID": null,
             "AdvertID": {"cimType": "uint32", "value": 5},
             "State": null, "RunningState": "Running"})"),
       kVerbose,
       true,
       {kTrying,
        "[T]: Found running SMS job \"\" (AdvertID=\"\", "
        "RunningState=\"Running\", State=\"\")\n"}},
  };
  for (const DeploymentCase& test : cases) {
    SCOPED_TRACE(test.name);
    Load(test.scenario);
    DebugFlagsScope flags(test.flags);
    EXPECT_EQ(DeploymentsRunning(), test.running);
    EXPECT_EQ(LogCapture::Messages(), test.lines);
  }
}

TEST_F(RunningJobsTest, UnreadableRequestIsSkippedAndTheWalkGoesOn) {
  Load(Agent(R"("CCM_ExecutionRequestEx": [)" + Request("C1", "Running") + "," +
             Request("C2", "Running") + "]"));
  Sim().FailCall(SimMethod::kGet, 3, WBEM_E_NOT_FOUND);  // C1's State
  DebugFlagsScope flags(kVerbose);
  EXPECT_TRUE(DeploymentsRunning());
  EXPECT_EQ(LogCapture::Messages(),
            (Lines{kTrying, kRequestPropertyError, Found("C2", "Running")}));
}

TEST_F(RunningJobsTest, StalledFetchEndsTheWalkWithinItsTimeLimit) {
  Load(
      Agent(R"("CCM_ExecutionRequestEx": [)" + Request("C1", "Running") + "]"));
  Sim().TimeOutNext(1);
  DebugFlagsScope flags(kVerbose);
  EXPECT_FALSE(DeploymentsRunning());
  EXPECT_EQ(Sim().LastCalls().nextTimeout,
            NTarn::CWbemInstanceList::kObjectTimeoutMs);
  EXPECT_EQ(LogCapture::Messages(), Lines{kTrying});
}

// ---- software updates

std::string Updates(const std::string& instances) {
  return R"({"namespaces": {"root\\ccm": {},
      "root\\ccm\\SoftwareUpdates\\DeploymentAgent": {
      "CCM_TargetedUpdateEx1": )" +
         instances + "}}}";
}
std::string Update(const std::string& id, const std::string& status) {
  return R"({"UpdateId": ")" + id + R"(", "UpdateState": 1, "UpdateStatus": )" +
         status + "}";
}
std::string FoundUpdate(const std::string& id, int status) {
  return "[T]: Found running SCCM software update \"" + id +
         "\" (UpdateStatus=" + std::to_string(status) + ")\n";
}
std::string IgnoringUpdate(const std::string& id, int status) {
  return "[T]: Ignoring running SCCM software update \"" + id +
         "\" (UpdateStatus=" + std::to_string(status) + ")\n";
}
const std::string kUpdatePropertyError =
    "[T]: CSMSJobsDetector::SMSSoftwareUpdatesAreRunning: Error while "
    "retrieving property values.\n";

struct UpdateCase {
  const char* name;
  std::string scenario;
  const wchar_t* updateStates;
  bool running;
  Lines lines;  // verbose
};

TEST_F(RunningJobsTest, SoftwareUpdates) {
  const UpdateCase cases[] = {
      {"downloading counts",
       Updates("[" + Update("U1", "7") + "]"),
       L"",
       true,
       {FoundUpdate("U1", 7)}},
      {"error is ignored by default",
       Updates("[" + Update("U1", "15") + "]"),
       L"",
       false,
       {IgnoringUpdate("U1", 15)}},
      {"installing counts by default",
       Updates("[" + Update("U1", "9") + "]"),
       L"",
       true,
       {FoundUpdate("U1", 9)}},
      {"installing added to the ignored states",
       Updates("[" + Update("U1", "9") + "]"),
       L"Installing",
       false,
       {IgnoringUpdate("U1", 9)}},
      {"a number outside the table counts, every update is logged",
       Updates("[" + Update("U1", "42") + "," + Update("U2", "0") + "]"),
       L"",
       true,
       {FoundUpdate("U1", 42), IgnoringUpdate("U2", 0)}},
      {"no status or a text status is skipped",
       Updates("[" + Update("U1", "null") + "," +
               Update("U2", R"({"cimType": "string", "value": "7"})") + "," +
               Update("U3", "1") + "]"),
       L"",
       false,
       {kUpdatePropertyError, kUpdatePropertyError, IgnoringUpdate("U3", 1)}},
      {"an UpdateId that is no string reads as empty",
       Updates(R"([{"UpdateId": null, "UpdateState": 0, "UpdateStatus": 3}])"),
       L"",
       true,
       {FoundUpdate("", 3)}},
      {"empty result", Updates("[]"), L"", false, {}},
  };
  for (const UpdateCase& test : cases) {
    SCOPED_TRACE(test.name);
    Load(test.scenario);
    DebugFlagsScope flags(kVerbose);
    std::wstring updateStates = test.updateStates;
    CSMSJobsDetector detector(L"", 0, nullptr, updateStates.data());
    LogCapture::Clear();
    EXPECT_EQ(detector.SMSSoftwareUpdatesAreRunning(), test.running);
    EXPECT_EQ(LogCapture::Messages(), test.lines);
  }
}

TEST_F(RunningJobsTest, UpdatesWithoutTheAgentNamespaceLogWhateverTheFlags) {
  Load(R"({"namespaces": {"root\\ccm": {}}})");
  DebugFlagsScope flags(0);
  CSMSJobsDetector detector(L"", 0, nullptr, nullptr);
  EXPECT_FALSE(detector.SMSSoftwareUpdatesAreRunning());
  EXPECT_EQ(LogCapture::Messages(),
            (Lines{"[T]: Failed to connect to "
                   "root\\CCM\\SoftwareUpdates\\DeploymentAgent: "
                   "WBEM_E_INVALID_NAMESPACE\n",
                   "[T]: CSMSJobsDetector::SMSSoftwareUpdatesAreRunning: "
                   "Unknown Error\n"}));
}

TEST_F(RunningJobsTest, StalledUpdateFetchEndsTheWalkWithinItsTimeLimit) {
  Load(Updates("[" + Update("U1", "15") + "," + Update("U2", "7") + "]"));
  Sim().TimeOutNext(2);
  DebugFlagsScope flags(kVerbose);
  CSMSJobsDetector detector(L"", 0, nullptr, nullptr);
  LogCapture::Clear();
  EXPECT_FALSE(detector.SMSSoftwareUpdatesAreRunning());
  EXPECT_EQ(Sim().LastCalls().nextTimeout,
            NTarn::CWbemInstanceList::kObjectTimeoutMs);
  EXPECT_EQ(LogCapture::Messages(), Lines{IgnoringUpdate("U1", 15)});
}

}  // namespace
