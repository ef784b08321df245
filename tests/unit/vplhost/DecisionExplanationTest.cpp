#include "tools/vplhost/DecisionExplanation.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "jobs/DateTime.h"
#include "tests/support/PinnedClock.h"
#include "tests/support/ScratchLocalMachine.h"
#include "tests/support/SimClientFixture.h"
#include "tests/support/SystemCapabilitiesScope.h"
#include "tests/support/TokenText.h"
#include "tools/vplhost/EffectiveSettings.h"
#include "tools/vplhost/IsoTime.h"
#include "tools/vplhost/NextAllowed.h"

namespace {

using Power = vpltest::SystemCapabilitiesScope::Power;
using Registry = vpltest::ScratchLocalMachine;

constexpr char kKey[] = "Software\\Tarn\\Vesperline";
constexpr char kPolicy[] = "Software\\Policies\\Tarn\\Vesperline";

__time64_t Base() {
  return MakeLocalTime(2026, 3, 10, 10, 0, 0, kDstAutomatic);
}

// The client with one update of `status` and job A1 due at 10:10 on the
// base day, its advertisement expired when `expired`.
std::string Client(int status, bool expired) {
  const std::wstring token =
      vpltest::TokenText(vpltest::TokenStart(2026, 3, 10, 10, 10, 1));
  return R"({"namespaces": {"root\\ccm": {"CCM_Client": {}},
      "root\\ccm\\SoftwareUpdates\\DeploymentAgent": {"CCM_TargetedUpdateEx1":
        [{"UpdateId": "U1", "UpdateState": 0, "UpdateStatus": )" +
         std::to_string(status) + R"(}]},
      "root\\ccm\\Policy\\Machine\\ActualConfig": {
        "CCM_Scheduler_ScheduledMessage": [{"ScheduledMessageID": "A1-P-Go",
          "TriggerMessage": "<AdvertisementID>A1</AdvertisementID><PackageID>P</PackageID><ProgramID>Go</ProgramID>",
          "Triggers": ["SMSSchedule=)" +
         std::string(token.begin(), token.end()) + R"("]}],
        "CCM_SoftwareDistribution": [{"ADV_AdvertisementID": "A1",
          "ADV_ExpirationTime": )" +
         (expired ? R"("20260101000000.000000+000")" : "null") +
         R"(, "PRG_PRF_Disabled": false}]}}})";
}

class DecisionExplanationTest : public vpltest::SimClientFixture {};

// Each step the question took, in its words, for what the detector saw.
TEST_F(DecisionExplanationTest, ReasonsFollowTheQuestionsSteps) {
  const std::string kMachine =
      "not a portable machine on battery (portable chassis: no, on AC with a "
      "battery: yes)\nmonitoring on: MonitorJobs \"ON\" (this machine's "
      "setting)\nthe "
      "ConfigMgr client is present\n";
  // clang-format off
  const struct { const char* name; bool portable; Power power; int status; bool expired; const char* ground; std::string reasons; std::optional<__time64_t> nextAllowed; } cases[] = {
      {"portable on battery", true, Power::kBattery, 9, false, "portableOnBattery",
       "a portable machine on battery: never held up by jobs, no objection\n", Base()},
      {"update installing", false, Power::kAcWithBattery, 9, false, "jobsRunning",
       kMachine + "software update running: UpdateId U1, status Installing (9)\n", std::nullopt},
      // Allowed again from the minute the job starts.
      {"ignored update, job due", false, Power::kAcWithBattery, 12, false, "jobsPending",
       kMachine + "software update left aside, its status is ignored: UpdateId U1, status WaitReboot (12)\n"
       "job [A1/P/Go] starts " + vplhost::IsoLocalTime(Base() + 600) +
       ", in 10 minutes, within the 30-minute window (Group Policy)\n", Base() + 600},
      {"job expired", false, Power::kAcWithBattery, 12, true, "nothingDue",
       kMachine + "software update left aside, its status is ignored: UpdateId U1, status WaitReboot (12)\n"
       "job A1-P-Go left out: its advertisement is expired\n"
       "no job starts within the 30-minute window (Group Policy); none has a start ahead\n"
       "no deployment running, no update installing, no job due within 30 minutes: no objection\n", Base()},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Registry machine;
    Registry::Set(kKey, "MonitorJobs", "ON");
    Registry::Set(kPolicy, "PendingSMSJobWindowMins", 30);
    const vpltest::SystemCapabilitiesScope system(c.portable, c.power);
    const vpltest::PinnedClock clock(Base());
    Load(Client(c.status, c.expired));
    const vplhost::DecisionExplanation explanation =
        vplhost::DecisionExplanation::Explain(
            {{"MonitorJobs", "local"}, {"PendingSMSJobWindowMins", "policy"}});
    std::string reasons;
    for (const vplhost::Reason& reason : explanation.Reasons())
      reasons += reason.text + "\n";
    EXPECT_EQ(reasons, c.reasons);
    EXPECT_EQ(vplhost::DecisionExplanation::GroundName(
                  explanation.Judgement().ground),
              std::string(c.ground));
    EXPECT_EQ(vplhost::WhenNextAllowed(explanation.Judgement(),
                                       explanation.Findings(), Base())
                  .time,
              c.nextAllowed);
    EXPECT_EQ(vplhost::EffectiveSettings::Read(
                  {{"PendingSMSJobWindowMins", "policy"}})
                  .Json()["PendingSMSJobWindowMins"],
              nlohmann::ordered_json({{"value", 30}, {"source", "policy"}}));
  }
}

}  // namespace
