// Pending scheduled jobs and the advertisement check, against the simulated
// client with a pinned clock, verbose logging on and a 30-minute window.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/Logging.h"
#include "common/wmi/WbemInstanceList.h"
#include "jobs/AutomationDate.h"
#include "jobs/DateTime.h"
#include "jobs/SMSJobsDetector.h"
#include "tests/support/DebugFlagsScope.h"
#include "tests/support/PinnedClock.h"
#include "tests/support/SimClientFixture.h"
#include "tests/unit/jobs/TimeZones.h"
#include "tests/support/TokenText.h"

namespace debug_flags = NTarn::debug_flags;

namespace {

using vpltest::LogCapture;

// Not a static: the test main sets the time zone up after static
// initialisation.
__time64_t Base() {
  return MakeLocalTime(2026, 3, 10, 10, 0, 0, kDstAutomatic);
}
constexpr char kUnknownJob[] = "Unknown Advert/Package/Program";

std::string Narrow(const std::wstring& text) {
  return std::string(text.begin(), text.end());
}
std::string Q(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text)
    quoted +=
        (c == '"' || c == '\\') ? "\\" + std::string(1, c) : std::string(1, c);
  return quoted + "\"";
}

// A one-time schedule element due at `hour`:`minute` on the base day.
std::string At(int hour, int minute, const char* keyword = "SMSSchedule=") {
  vpltest::TokenFields fields;
  fields.year = 2026;
  fields.month = 3;
  fields.day = 10;
  fields.hour = hour;
  fields.minute = minute;
  return keyword + Narrow(vpltest::TokenText(fields));
}

std::string Join(const std::vector<std::string>& items,
                 const char* separator = ",") {
  std::string list;
  for (const std::string& item : items)
    list += (list.empty() ? "" : separator) + item;
  return list;
}

std::string Msg(const std::string& id, const std::vector<std::string>& triggers,
                const std::string& message = "") {
  std::vector<std::string> quoted;
  for (const std::string& trigger : triggers) quoted.push_back(Q(trigger));
  return R"({"ScheduledMessageID": )" + id + R"(, "TriggerMessage": )" +
         Q(message) + R"(, "Triggers": [)" + Join(quoted) + "]}";
}
std::string Policy(const std::string& advert, const std::string& expiration,
                   const std::string& disabled, const std::string& extra = "") {
  return R"({"ADV_AdvertisementID": )" + Q(advert) +
         R"(, "ADV_ExpirationTime": )" + expiration +
         R"(, "PRG_PRF_Disabled": )" + disabled + extra + "}";
}
std::string LocalExpiry(__time64_t time) {
  return Q(Narrow(CAutomationDate(time).Format(L"%Y%m%d%H%M%S")) +
           ".000000+000");
}
std::string Check(const std::string& advert) {
  return "[T]: Checking state of job with advertid " + advert +
         " in SMSJobDisabledOrExpired\n";
}
std::string State(const std::string& advert, const char* state) {
  return "[T]: Scheduled job with advertid " + advert + " has " + state + ".\n";
}
std::string Shown(__time64_t time) {
  return Narrow(FormatLocalTime(time, kLogTimePattern));
}
std::string Due(bool pending, const std::string& job, __time64_t next) {
  return std::string("[T]: SMSJobsDetector: ") + (pending ? "" : "No ") +
         "Pending jobs detected in the next 30 minutes.\nNext scheduled "
         "advert " +
         job + " due to kick off at " + Shown(next) + "\n";
}
std::string NoneDue(const std::string& job, __time64_t last) {
  return "[T]: SMSJobsDetector: No pending jobs found\nLast scheduled advert " +
         job + " kicked off at " + Shown(last) + "\n";
}

struct Row {
  const char* name;
  int nowOffset;  // seconds from the base time
  std::vector<std::string> messages;
  std::vector<std::string> policies;
  bool pending;
  std::string log;
  int stalledNext = 0;  // this Next call times out
};

class PendingJobs : public vpltest::SimClientFixture {
 protected:
  void Run(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
      SCOPED_TRACE(row.name);
      vpltest::SimulatedClient& sim = Load(
          R"({"namespaces": {"root\\ccm\\Policy\\Machine\\ActualConfig": {)"
          R"("CCM_Scheduler_ScheduledMessage": [)" +
          Join(row.messages) + R"(], "CCM_SoftwareDistribution": [)" +
          Join(row.policies) + "]}}}");
      if (row.stalledNext) sim.TimeOutNext(row.stalledNext);
      vpltest::PinnedClock clock(Base() + row.nowOffset);
      vpltest::DebugFlagsScope flags(debug_flags::kVerbose);
      CSMSJobsDetector detector(L"", 30, nullptr, nullptr);
      LogCapture::Clear();  // the lists Init logs are not this test's

      EXPECT_EQ(detector.SMSPendingJobsFound(), row.pending);
      EXPECT_EQ(Join(LogCapture::Messages(), ""), row.log);
      EXPECT_EQ(sim.LastCalls().nextTimeout,
                NTarn::CWbemInstanceList::kObjectTimeoutMs);
      EXPECT_EQ(vpltest::SimulatedClient::LiveObjects(), 0);
    }
  }
};

TEST_F(PendingJobs, Scenarios) {
  const std::string a1 = Q("A1-P-R");
  const std::string named =
      "<AdvertisementID> A1 </AdvertisementID>"
      "<PackageID>P1</PackageID><ProgramID>R1</ProgramID>";
  const std::string noneDue = NoneDue(kUnknownJob, 0);
  const std::string dueIn10 = Due(true, kUnknownJob, Base() + 600);
  // clang-format off
  Run({
    {"due at the window's end", 0, {Msg(a1, {At(10, 30)})}, {}, true,
     Check("A1") + Due(true, kUnknownJob, Base() + 1800)},
    {"one second beyond it", -1, {Msg(a1, {At(10, 30)})}, {}, false,
     Check("A1") + Due(false, kUnknownJob, Base() + 1800)},
    {"due now", 0, {Msg(a1, {At(10, 0)})}, {}, false,
     Check("A1") + Due(false, kUnknownJob, Base())},
    {"client schedule", 0, {Msg(Q("{A1}-P-R"), {At(10, 10)})}, {}, false, noneDue},
    {"null identifier", 0, {Msg("null", {At(10, 10)})}, {}, false, noneDue},
    {"lower-case keyword", 0,
     {Msg(a1, {"SimpleInterval;Minutes=5", At(10, 10, "smsschedule=")})}, {},
     true, Check("A1") + dueIn10},
    {"second pair", 0, {Msg(a1, {At(10, 10, "SMSSchedule;ScheduleString=") +
                                 ";MaxRandomDelayMinutes=0"})}, {},
     true, Check("A1") + dueIn10},
    {"first pending stops", 0,
     {Msg(a1, {At(10, 10), At(10, 5)}, named), Msg(Q("A2-P-R"), {At(10, 5)})}, {}, true,
     Check("A1") + Due(true, "[A1/P1/R1]", Base() + 600)},
    {"only past runs", 0,
     {Msg(a1, {At(9, 0), At(8, 0)}, "<AdvertisementID>A1</AdvertisementID>")},
     {}, false, Check("A1") + NoneDue("[A1/???\?/???\?]", Base() - 3600)},
    {"expired a minute ago", 0, {Msg(a1, {At(10, 10)})},
     {Policy("A1", LocalExpiry(Base() - 60), "false")}, false,
     Check("A1") + State("A1", "expired") + noneDue},
    {"expires this second", 0, {Msg(a1, {At(10, 10)})},
     {Policy("A1", LocalExpiry(Base()), "false")}, true, Check("A1") + dueIn10},
    {"disabled", 0, {Msg(a1, {At(10, 10)})},
     {Policy("A1", LocalExpiry(Base() + 3600), "true")}, false,
     Check("A1") + State("A1", "been disabled") + noneDue},
    {"quote in advert", 0, {Msg(Q("A'1\\-P-R"), {At(10, 10)})},
     {Policy("A'1\\", "null", "true")}, false,
     Check("A'1\\") + State("A'1\\", "been disabled") + noneDue},
    {"odd policy values", 0, {Msg(a1, {At(10, 10)})},
     {Policy("A1", R"({"cimType": "uint32", "value": 5})", "null")}, true,
     Check("A1") + "[T]: CSMSJobsDetector::SMSJobDisabledOrExpired, "
     "ADV_ExpirationTime not retrieved: WBEM_E_TYPE_MISMATCH\n" + dueIn10},
    {"stalled scan", 0, {Msg(a1, {At(10, 10)})}, {}, false, noneDue, 1},
  });
  // clang-format on
}

// Where local time is far from UTC, an expiry flagged as UTC is judged by the
// UTC clock and one that is not by the local clock.
class SydneyZonePendingJobs : public PendingJobs {
 protected:
  void SetUp() override {
    PendingJobs::SetUp();
    if (vpltest::IsInTimeZone(vpltest::TimeZone::kSydney)) return;
    if (vpltest::IsRunForTimeZone(vpltest::TimeZone::kSydney))
      FAIL() << "the zone did not take";
    GTEST_SKIP() << "not in Sydney's time zone";
  }
};

TEST_F(SydneyZonePendingJobs, ExpiryFlaggedAsUtc) {
  const std::string a1 = Q("A1-P-R");
  // UTC digits of an hour from now: Sydney is 11 hours ahead in March.
  const std::string expiry = LocalExpiry(Base() + 3600 - 11 * 3600);
  // clang-format off
  Run({
    {"flagged", 0, {Msg(a1, {At(10, 10)})},
     {Policy("A1", expiry, "false", R"(, "ADV_ExpirationTimeIsGMT": true)")},
     true, Check("A1") + Due(true, kUnknownJob, Base() + 600)},
    {"flag false", 0, {Msg(a1, {At(10, 10)})},
     {Policy("A1", expiry, "false", R"(, "ADV_ExpirationTimeIsGMT": false)")},
     false, Check("A1") + State("A1", "expired") + NoneDue(kUnknownJob, 0)},
  });
  // clang-format on
}

}  // namespace
