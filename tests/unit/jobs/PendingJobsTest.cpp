// Pending scheduled jobs, the advertisement check and the recent policy
// refresh, against the simulated client with a pinned clock and verbose log.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "common/Logging.h"
#include "common/wmi/WbemTimeout.h"
#include "jobs/AutomationDate.h"
#include "jobs/DateTime.h"
#include "jobs/SMSJobsDetector.h"
#include "jobs/ScheduleToken.h"
#include "tests/support/DebugFlagsScope.h"
#include "tests/support/PinnedClock.h"
#include "tests/support/SimClientFixture.h"
#include "tests/unit/jobs/TimeZones.h"
#include "tests/support/TokenText.h"

namespace {

using vpltest::LogCapture;
using Texts = std::vector<std::string>;

// Not a static: the test main sets the time zone up after static init.
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
    quoted += (c == '"' || c == '\\' ? "\\" : "") + std::string(1, c);
  return quoted + "\"";
}
std::string Join(const Texts& items, const char* separator = ",") {
  std::string list;
  for (const std::string& item : items)
    list += (list.empty() ? "" : separator) + item;
  return list;
}
// Local-clock digits `offset` seconds from the base time, as the client writes.
std::string Digits(int offset) {
  return Narrow(CAutomationDate(Base() + offset).Format(L"%Y%m%d%H%M%S")) +
         ".000000+000";
}
// A one-time schedule element due at `hour`:`minute` on the base day.
std::string At(int hour, int minute, const char* keyword = "SMSSchedule=") {
  return keyword + Narrow(vpltest::TokenText(
                       vpltest::TokenStart(2026, 3, 10, hour, minute, 1)));
}
// Two days after the second Sunday of each month (8 March 2026) at
// `hour`:`minute`, which is the base day.
std::string AfterSunday(int hour, int minute) {
  return "SMSSchedule=" +
         Narrow(vpltest::TokenText(vpltest::TokenStart(
             2026, 1, 1, hour, minute, MonthlyByWeekdayOffset, 1, 2, 1, 2)));
}
std::string Msg(const std::string& id, Texts triggers,
                const std::string& message = "") {
  for (std::string& trigger : triggers) trigger = Q(trigger);
  return R"({"ScheduledMessageID": )" + id + R"(, "TriggerMessage": )" +
         Q(message) + R"(, "Triggers": [)" + Join(triggers) + "]}";
}
std::string Policy(const std::string& advert, const std::string& expiration,
                   const std::string& disabled, const std::string& extra = "") {
  return R"({"ADV_AdvertisementID": )" + Q(advert) +
         R"(, "ADV_ExpirationTime": )" + expiration +
         R"(, "PRG_PRF_Disabled": )" + disabled + extra + "}";
}
std::string Check(const std::string& advert) {
  return "[T]: Checking state of job with advertid " + advert +
         " in SMSJobDisabledOrExpired\n";
}
std::string State(const std::string& advert, const char* state) {
  return "[T]: Scheduled job with advertid " + advert + " has " + state + ".\n";
}
std::string Due(bool pending, const std::string& job, __time64_t next) {
  return std::string("[T]: SMSJobsDetector: ") + (pending ? "" : "No ") +
         "Pending jobs detected in the next 30 minutes.\nNext scheduled "
         "advert " +
         job + " due to kick off at " +
         Narrow(FormatLocalTime(next, kLogTimePattern)) + "\n";
}
std::string NoneDue(const std::string& job, __time64_t last) {
  return "[T]: SMSJobsDetector: No pending jobs found\nLast scheduled advert " +
         job + " kicked off at " +
         Narrow(FormatLocalTime(last, kLogTimePattern)) + "\n";
}

struct Row {
  const char* name;
  int nowOffset;             // seconds from the base time
  Texts messages, policies;  // or history entries, and nothing
  bool answer;
  std::string log;
  int stalledNext = 0;  // this Next call times out; the first is the query's
  int queries = 0;      // the queries the question makes, when not 0
};

class PendingJobs : public vpltest::SimClientFixture {
 protected:
  // `classes` holds the rows' objects at %1 and %2; `ask` makes its own
  // detector and answers.
  void Run(const std::vector<Row>& rows, const std::function<bool()>& ask,
           std::string classes =
               "Policy\\\\Machine\\\\ActualConfig\": {\"CCM_Scheduler_"
               "ScheduledMessage\": [%1], \"CCM_SoftwareDistribution\": [%2]") {
    for (const Row& row : rows) {
      SCOPED_TRACE(row.name);
      std::string text = classes;
      text.replace(text.find("%1"), 2, Join(row.messages));
      if (text.find("%2") != std::string::npos)
        text.replace(text.find("%2"), 2, Join(row.policies));
      vpltest::SimulatedClient& sim =
          Load(R"({"namespaces": {"root\\ccm\\)" + text + "}}}");
      if (row.stalledNext) sim.TimeOutNext(row.stalledNext);
      vpltest::PinnedClock clock(Base() + row.nowOffset);
      vpltest::DebugFlagsScope flags(NTarn::debug_flags::kVerbose);
      EXPECT_EQ(ask(), row.answer);
      EXPECT_EQ(Join(LogCapture::Messages(), ""), row.log);
      EXPECT_EQ(sim.LastCalls().nextTimeout, NTarn::kWbemCallTimeoutMs);
      if (row.queries) {
        EXPECT_EQ(sim.CallCount(vpltest::SimMethod::kExecQuery), row.queries);
      }
      EXPECT_EQ(vpltest::SimulatedClient::LiveObjects(), 0);
    }
  }
  static bool Pending() {
    CSMSJobsDetector detector(L"", 30, nullptr, nullptr);
    LogCapture::Clear();  // the lists Init logs are not this test's
    return detector.SMSPendingJobsFound();
  }
};

TEST_F(PendingJobs, Scenarios) {
  const std::string a1 = Q("A1-P-R"), noneDue = NoneDue(kUnknownJob, 0);
  const std::string dueIn10 = Due(true, kUnknownJob, Base() + 600);
  const std::string named =
      "<AdvertisementID> A1 "
      "</AdvertisementID><PackageID>P1</PackageID><ProgramID>R1</ProgramID>";
  // clang-format off
  Run({
    {"due at the window's end", 0, {Msg(a1, {At(10, 30)})}, {}, true, Check("A1") + Due(true, kUnknownJob, Base() + 1800)},
    {"one second beyond it", -1, {Msg(a1, {At(10, 30)})}, {}, false, Check("A1") + Due(false, kUnknownJob, Base() + 1800)},
    {"due now", 0, {Msg(a1, {At(10, 0)})}, {}, false, Check("A1") + Due(false, kUnknownJob, Base())},
    {"client schedule", 0, {Msg(Q("{A1}-P-R"), {At(10, 10)})}, {}, false, noneDue},
    {"null identifier", 0, {Msg("null", {At(10, 10)})}, {}, false, noneDue},
    {"lower-case keyword", 0, {Msg(a1, {"SimpleInterval;Minutes=5", At(10, 10, "smsschedule=")})}, {}, true, Check("A1") + dueIn10},
    {"second pair", 0, {Msg(a1, {At(10, 10, "SMSSchedule;ScheduleString=") + ";MaxRandomDelayMinutes=0"})}, {}, true, Check("A1") + dueIn10},
    {"first pending stops", 0, {Msg(a1, {At(10, 10), At(10, 5)}, named), Msg(Q("A2-P-R"), {At(10, 5)})}, {}, true,
     Check("A1") + Due(true, "[A1/P1/R1]", Base() + 600)},
    {"only past runs", 0, {Msg(a1, {At(9, 0), At(8, 0)}, "<AdvertisementID>A1</AdvertisementID>")}, {}, false,
     Check("A1") + NoneDue("[A1/???\?/???\?]", Base() - 3600)},
    {"expired a minute ago", 0, {Msg(a1, {At(10, 10)})}, {Policy("A1", Q(Digits(-60)), "false")}, false,
     Check("A1") + State("A1", "expired") + noneDue},
    {"expires this second", 0, {Msg(a1, {At(10, 10)})}, {Policy("A1", Q(Digits(0)), "false")}, true, Check("A1") + dueIn10},
    {"disabled", 0, {Msg(a1, {At(10, 10)})}, {Policy("A1", Q(Digits(3600)), "true")}, false,
     Check("A1") + State("A1", "been disabled") + noneDue},
    // One policy query for every message; IDs match as WQL compares them, the first policy of each.
    {"policies read once", 0, {Msg(a1, {At(10, 10)}), Msg(Q("A2-P-R"), {At(10, 20)}), Msg(Q("a1-Q-S"), {At(10, 5)})},
     {Policy("a1", "null", "true"), Policy("A2", "null", "false"), Policy("A1", "null", "false")}, true,
     Check("A1") + State("A1", "been disabled") + Check("A2") + Due(true, kUnknownJob, Base() + 1200), 0, 2},
    {"quote in advert", 0, {Msg(Q("A'1\\-P-R"), {At(10, 10)})}, {Policy("A'1\\", "null", "true")}, false,
     Check("A'1\\") + State("A'1\\", "been disabled") + noneDue},
    {"odd policy values", 0, {Msg(a1, {At(10, 10)})}, {Policy("A1", R"({"cimType": "uint32", "value": 5})", "null")}, true,
     Check("A1") + "[T]: CSMSJobsDetector::SMSJobDisabledOrExpired, ADV_ExpirationTime not retrieved: WBEM_E_TYPE_MISMATCH\n" + dueIn10},
    {"stalled scan", 0, {Msg(a1, {At(10, 10)})}, {}, false,
     "[T]: CSMSJobsDetector::SMSPendingJobsFound: " + vpltest::kTimedOutText + "\n", 1},
    {"offset schedule due", 0, {Msg(a1, {AfterSunday(10, 20)})}, {}, true, Check("A1") + Due(true, kUnknownJob, Base() + 1200)},
    {"offset schedule later", 0, {Msg(a1, {AfterSunday(10, 40)})}, {}, false, Check("A1") + Due(false, kUnknownJob, Base() + 2400)},
  }, Pending);
  // A task sequence's policy is a software distribution policy too.
  Run({
    {"disabled task sequence", 0, {Msg(a1, {At(10, 10)})}, {Policy("A1", Q(Digits(3600)), "true")}, false,
     Check("A1") + State("A1", "been disabled") + noneDue},
  }, Pending, "Policy\\\\Machine\\\\ActualConfig\": {\"CCM_Scheduler_ScheduledMessage\": [%1], \"CCM_TaskSequence\": [%2]");
  // clang-format on
}

// Far from UTC, an expiry flagged as UTC is judged by the UTC clock.
class SydneyZonePendingJobs : public PendingJobs {};
TEST_F(SydneyZonePendingJobs, ExpiryFlaggedAsUtc) {
  if (!vpltest::IsInTimeZone(vpltest::TimeZone::kSydney)) {
    ASSERT_FALSE(vpltest::IsRunForTimeZone(vpltest::TimeZone::kSydney))
        << "the zone did not take";
    GTEST_SKIP() << "not in Sydney's time zone";
  }
  const std::string a1 = Q("A1-P-R"), gmt = R"(, "ADV_ExpirationTimeIsGMT": )";
  const std::string expiry =
      Q(Digits(3600 - 11 * 3600));  // UTC digits, an hour ahead
  // clang-format off
  Run({
    {"flagged", 0, {Msg(a1, {At(10, 10)})}, {Policy("A1", expiry, "false", gmt + "true")}, true,
     Check("A1") + Due(true, kUnknownJob, Base() + 600)},
    {"flag false", 0, {Msg(a1, {At(10, 10)})}, {Policy("A1", expiry, "false", gmt + "false")}, false,
     Check("A1") + State("A1", "expired") + NoneDue(kUnknownJob, 0)},
  }, Pending);
  // clang-format on
}

std::string Entry(const std::string& id, const std::string& fired) {
  return R"({"ScheduleID": )" + id + R"(, "LastTriggerTime": )" + fired + "}";
}

TEST_F(PendingJobs, PolicyRefreshWithinFiveMinutes) {
  const std::string id = Q("{00000000-0000-0000-0000-000000000022}"),
                    two = Digits(-120);
  const std::string failure =
      "[T]: CSMSJobsDetector::FoundRecentPolicyRefreshEvent: ";
  auto seen = [](const std::string& fired) {
    return "[T]: Last policy refresh was at " + fired + "\n";
  };
  // clang-format off
  Run({
    {"two minutes ago", 0, {Entry(id, Q(two))}, {}, true, seen(two)},
    {"ten minutes ago", 0, {Entry(id, Q(Digits(-600)))}, {}, false, seen(Digits(-600))},
    {"this second", 0, {Entry(id, Q(Digits(0)))}, {}, false, seen(Digits(0))},
    {"at the window's lower bound", 0, {Entry(id, Q(Digits(-300)))}, {}, true, seen(Digits(-300))},
    {"other schedule", 0, {Entry(Q("{X}"), Q(two))}, {}, false, ""},
    {"scoped, no scope", 0, {Entry(Q("{00000000-0000-0000-0000-000000000027}"), Q(two))}, {}, false, ""},
    {"deadline", 0, {Entry(Q("deadline:{X}"), Q(two))}, {}, true, seen(two)},
    {"never fired", 0, {Entry(id, "null"), Entry(id, Q(two))}, {}, true, seen(two)},
    {"time as text", 0, {Entry(id, R"({"cimType": "string", "value": "9"})"), Entry(id, Q(two))}, {}, true,
     failure + "returned value isn't a CIM_DATETIME\n" + seen(two)},
    {"numeric schedule", 0, {Entry(R"({"cimType": "uint32", "value": 22})", Q(two)), Entry(id, Q(two))}, {}, false,
     failure + "returned ScheduleID value isn't a CIM_STRING\n"},
    {"stalled", 0, {Entry(id, Q(two))}, {}, false, failure + vpltest::kTimedOutText + "\n", 1},
  }, [] { return CSMSJobsDetector(L"").FoundRecentPolicyRefreshEvent(5); }, R"(Scheduler": {"CCM_Scheduler_History": [%1])");
  // clang-format on
}

}  // namespace
