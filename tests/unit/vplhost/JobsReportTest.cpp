#include "tools/vplhost/JobsReport.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "jobs/DateTime.h"
#include "tests/support/SimClientFixture.h"
#include "tests/support/TokenText.h"

namespace {

// Tuesday 10 March 2026, 10:00 local time.
__time64_t Base() {
  return MakeLocalTime(2026, 3, 10, 10, 0, 0, kDstAutomatic);
}

// A message of job `id` ("ADV-PKG-PRG") due once on `day` March at `hour`.
std::string Message(const std::string& id, int day, int hour, int minute) {
  const std::wstring token =
      vpltest::TokenText(vpltest::TokenStart(2026, 3, day, hour, minute, 1));
  const std::string advert = id.substr(0, id.find('-'));
  return R"({"ScheduledMessageID": ")" + id +
         R"(", "TriggerMessage": "<AdvertisementID>)" + advert +
         R"(</AdvertisementID><PackageID>P</PackageID><ProgramID>Go</ProgramID>", "Triggers": ["SMSSchedule=)" +
         std::string(token.begin(), token.end()) + R"("]})";
}

std::string Policy(const std::string& advert, const char* expiration,
                   const char* disabled) {
  return R"({"ADV_AdvertisementID": ")" + advert +
         R"(", "ADV_ExpirationTime": )" + expiration +
         R"(, "PRG_PRF_Disabled": )" + disabled + "}";
}

class JobsReport : public vpltest::SimClientFixture {};

// Where each job's next start falls, judged as the observer judges its
// window, with the client's own schedules counted apart.
TEST_F(JobsReport, PlacesEachJobInTheWindowTheHorizonOrBeyond) {
  Load(R"({"namespaces": {"root\\ccm\\Policy\\Machine\\ActualConfig": {
      "CCM_Scheduler_ScheduledMessage": [)" +
       Message("{00000000-0000-0000-0000-000000000021}", 10, 10, 5) + "," +
       Message("A1-P-Go", 10, 10, 30) + "," + Message("A2-P-Go", 10, 10, 31) +
       "," + Message("A3-P-Go", 11, 9, 0) + "," +
       Message("A4-P-Go", 11, 11, 0) + "," + Message("A5-P-Go", 10, 9, 0) +
       "," + Message("A6-P-Go", 10, 10, 10) + "," +
       Message("A7-P-Go", 10, 10, 10) + R"(],
      "CCM_SoftwareDistribution": [)" +
       Policy("A6", "null", "true") + "," +
       Policy("A7", "\"20260101000000.000000+000\"", "false") + "]}}}");
  vplhost::JobsQuestion question;
  question.now = Base();
  question.windowMinutes = 30;
  question.windowSource = "local";
  const nlohmann::ordered_json listing = vplhost::ListJobs(question);
  // clang-format off
  const struct { const char* id; const char* status; bool inWindow; long long minutes; } expected[] = {
      {"A1-P-Go", "inside the window", true, 30},  // the window's last minute
      {"A2-P-Go", "within the horizon", false, 31},
      {"A3-P-Go", "within the horizon", false, 23 * 60},
      {"A4-P-Go", "beyond the horizon", false, 25 * 60},
      {"A5-P-Go", "no start ahead", false, -1},
      {"A6-P-Go", "disabled", false, -1},
      {"A7-P-Go", "expired", false, -1},
  };
  // clang-format on
  ASSERT_EQ(listing["jobs"].size(), std::size(expected)) << listing.dump(2);
  for (size_t i = 0; i < std::size(expected); ++i) {
    const nlohmann::ordered_json& job = listing["jobs"][i];
    SCOPED_TRACE(job.dump());
    EXPECT_EQ(job["id"], expected[i].id);
    EXPECT_EQ(job["status"], expected[i].status);
    EXPECT_EQ(job["inWindow"], expected[i].inWindow);
    if (expected[i].minutes >= 0) {
      EXPECT_EQ(job["advertisement"], std::string(expected[i].id, 2));
      EXPECT_EQ(job["triggers"][0]["minutesFromNow"], expected[i].minutes);
    }
  }
  EXPECT_EQ(listing["clientSchedules"], 1);
  EXPECT_EQ(listing["client"], true);
}

}  // namespace
