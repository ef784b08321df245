// Recent policy refresh from the scheduler history, against the simulated
// client with a pinned clock and verbose logging on.
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

namespace debug_flags = NTarn::debug_flags;

namespace {

// Not a static: the test main sets the time zone up after static
// initialisation.
__time64_t Now() { return MakeLocalTime(2026, 3, 10, 10, 0, 0, kDstAutomatic); }

// LastTriggerTime `seconds` before now, in local-clock digits.
std::string Ago(int seconds) {
  const std::wstring digits =
      CAutomationDate(Now() - seconds).Format(L"%Y%m%d%H%M%S");
  return std::string(digits.begin(), digits.end()) + ".000000+000";
}
std::string Entry(const std::string& id, const std::string& fired) {
  return R"({"ScheduleID": )" + id + R"(, "LastTriggerTime": )" + fired + "}";
}
std::string Q(const std::string& text) { return "\"" + text + "\""; }
std::string Seen(const std::string& fired) {
  return "[T]: Last policy refresh was at " + fired + "\n";
}

struct Row {
  const char* name;
  std::vector<std::string> entries;
  bool refreshed;
  std::string log;
  int stalledNext = 0;  // this Next call times out
};

class PolicyRefreshEvent : public vpltest::SimClientFixture {};

TEST_F(PolicyRefreshEvent, WithinFiveMinutes) {
  const std::string id = Q("{00000000-0000-0000-0000-000000000022}");
  const std::string two = Ago(120);
  const std::string failure =
      "[T]: CSMSJobsDetector::FoundRecentPolicyRefreshEvent: ";
  // clang-format off
  const std::vector<Row> rows = {
    {"two minutes ago", {Entry(id, Q(two))}, true, Seen(two)},
    {"ten minutes ago", {Entry(id, Q(Ago(600)))}, false, Seen(Ago(600))},
    {"this second", {Entry(id, Q(Ago(0)))}, false, Seen(Ago(0))},
    {"other schedule", {Entry(Q("{X}"), Q(two))}, false, ""},
    {"deadline", {Entry(Q("deadline:{X}"), Q(two))}, true, Seen(two)},
    {"never fired", {Entry(id, "null"), Entry(id, Q(two))}, true, Seen(two)},
    {"time as text", {Entry(id, R"({"cimType": "string", "value": "9"})"),
                      Entry(id, Q(two))}, true,
     failure + "returned value isn't a CIM_DATETIME\n" + Seen(two)},
    {"numeric schedule", {Entry(R"({"cimType": "uint32", "value": 22})", Q(two)),
                          Entry(id, Q(two))}, false,
     failure + "returned ScheduleID value isn't a CIM_STRING\n"},
    {"stalled", {Entry(id, Q(two))}, false, "", 1},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::string list;
    for (const std::string& entry : row.entries) {
      list += (list.empty() ? "" : ",") + entry;
    }
    vpltest::SimulatedClient& sim = Load(
        R"({"namespaces": {"root\\ccm\\Scheduler": {"CCM_Scheduler_History": [)" +
        list + "]}}}");
    if (row.stalledNext) sim.TimeOutNext(row.stalledNext);
    vpltest::PinnedClock clock(Now());
    vpltest::DebugFlagsScope flags(debug_flags::kVerbose);

    EXPECT_EQ(CSMSJobsDetector(L"").FoundRecentPolicyRefreshEvent(5),
              row.refreshed);
    std::string log;
    for (const std::string& line : vpltest::LogCapture::Messages()) log += line;
    EXPECT_EQ(log, row.log);
    EXPECT_EQ(sim.LastCalls().nextTimeout,
              NTarn::CWbemInstanceList::kObjectTimeoutMs);
    EXPECT_EQ(vpltest::SimulatedClient::LiveObjects(), 0);
  }
}

}  // namespace
