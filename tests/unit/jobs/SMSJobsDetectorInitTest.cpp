#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/Logging.h"
#include "jobs/SMSJobsDetector.h"
#include "tests/support/DebugFlagsScope.h"
#include "tests/support/LogCapture.h"

namespace {

using vpltest::DebugFlagsScope;
using vpltest::LogCapture;
using Lines = std::vector<std::string>;
using States = std::vector<std::wstring>;
using Numbers = std::vector<LONG>;

const States kDefaultJobStates = {L"WaitingDisabled", L"WaitingEnvironment",
                                  L"ReportStatusAtReboot", L"AdvancedDownload"};
const Numbers kDefaultUpdateStates = {0, 1, 10, 11, 12, 14, 15, 16};

template <typename T>
std::vector<T> Plus(std::vector<T> list, const std::vector<T>& more) {
  list.insert(list.end(), more.begin(), more.end());
  return list;
}

struct InitCase {
  const char* name;
  const wchar_t* jobStates;     // null passes a null text
  const wchar_t* updateStates;  // likewise
  States expectedJobStates;
  Numbers expectedUpdateStates;
};

TEST(SMSJobsDetectorInitTest, SettingsAddToTheDefaultLists) {
  const InitCase cases[] = {
      {"null texts", nullptr, nullptr, kDefaultJobStates, kDefaultUpdateStates},
      {"empty texts", L"", L"", kDefaultJobStates, kDefaultUpdateStates},
      {"names ignore case", nullptr, L"error;VERIFYING", kDefaultJobStates,
       Plus(kDefaultUpdateStates, {15, 13})},
      {"blank belongs to the token", nullptr, L"Installing, Verifying",
       kDefaultJobStates, Plus(kDefaultUpdateStates, {9})},
      {"duplicates kept", nullptr, L"WaitingServiceWindow", kDefaultJobStates,
       Plus(kDefaultUpdateStates, {16})},
      {"unknown name dropped", nullptr, L"Bogus", kDefaultJobStates,
       kDefaultUpdateStates},
      {"runs of separators", L";;Paused,,Held;", nullptr,
       Plus(kDefaultJobStates, {L"Paused", L"Held"}), kDefaultUpdateStates},
      {"job tokens untrimmed", L" Paused ,x", nullptr,
       Plus(kDefaultJobStates, {L" Paused ", L"x"}), kDefaultUpdateStates},
  };
  DebugFlagsScope flags(0);
  for (const InitCase& test : cases) {
    SCOPED_TRACE(test.name);
    std::wstring jobs = test.jobStates ? test.jobStates : L"";
    std::wstring updates = test.updateStates ? test.updateStates : L"";
    CSMSJobsDetector detector(L"", 30, test.jobStates ? jobs.data() : nullptr,
                              test.updateStates ? updates.data() : nullptr);
    EXPECT_EQ(detector.PendingWindowMinutes(), 30u);
    EXPECT_EQ(detector.IgnoredJobStates(), test.expectedJobStates);
    EXPECT_EQ(detector.IgnoredUpdateStates(), test.expectedUpdateStates);
  }
  EXPECT_TRUE(LogCapture::Messages().empty());
}

TEST(SMSJobsDetectorInitTest, EveryInitStartsAgainFromTheDefaults) {
  DebugFlagsScope flags(0);
  CSMSJobsDetector detector(L"");
  EXPECT_TRUE(detector.IgnoredJobStates().empty());
  EXPECT_TRUE(detector.IgnoredUpdateStates().empty());

  std::wstring jobs = L"Held";
  std::wstring updates = L"Installing";
  detector.Init(5, jobs.data(), updates.data());
  std::wstring empty;
  detector.Init(7, empty.data(), empty.data());
  EXPECT_EQ(detector.PendingWindowMinutes(), 7u);
  EXPECT_EQ(detector.IgnoredJobStates(), kDefaultJobStates);
  EXPECT_EQ(detector.IgnoredUpdateStates(), kDefaultUpdateStates);
  EXPECT_FALSE(detector.IsUpdateStateIgnored(9));
  EXPECT_TRUE(detector.IsUpdateStateIgnored(16));
}

TEST(SMSJobsDetectorInitTest, VerboseInitLogsBothListsPieceByPiece) {
  DebugFlagsScope flags(debug_flags::kVerbose);
  std::wstring jobs = L"Held";
  std::wstring updates = L"WaitingServiceWindow,Installing";
  CSMSJobsDetector detector(L"", 0, jobs.data(), updates.data());
  EXPECT_EQ(
      LogCapture::Messages(),
      (Lines{"[T]: Ignored states for SMS running deployments:\t",
             "WaitingDisabled\t", "WaitingEnvironment\t",
             "ReportStatusAtReboot\t", "AdvancedDownload\t", "Held\t", "\n",
             "[T]: Ignored states for SMS running software updates:\t",
             "None\t", "Available\t", "PendingSoftReboot\t",
             "PendingHardReboot\t", "WaitReboot\t", "InstallComplete\t",
             "Error\t", "WaitingServiceWindow\t", "WaitingServiceWindow\t",
             "Installing\t", "\n"}));
}

}  // namespace
