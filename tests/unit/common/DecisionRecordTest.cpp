#include "common/DecisionRecord.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "common/DecisionStore.h"
#include "common/ScopedHandle.h"
#include "tests/support/ScratchLocalMachine.h"

namespace {

using NTarn::DecisionEntry;

constexpr char kSettings[] = "Software\\Tarn\\Vesperline";
constexpr char kPolicy[] = "Software\\Policies\\Tarn\\Vesperline";
// 2026-12-09 02:00:00 UTC.
constexpr __time64_t kNight = 1796781600;

// A decision at `kNight + seconds` ending on `ground`.
DecisionEntry Decision(int seconds, const char* ground) {
  DecisionEntry entry = DecisionEntry::At(kNight + seconds);
  entry.question = NTarn::decision_texts::kPowerDownQuestion;
  entry.answer = NTarn::decision_texts::kObjection;
  entry.ground = ground;
  entry.contentId = "CAS07337";
  entry.pendingWindowMinutes = 30;
  return entry;
}

// "<key>|<ground>|<first>|<last>|<count>", oldest first, read back through
// the reader vplhost uses.
std::vector<std::string> Stored() {
  NTarn::ScopedRegKey decisions;
  std::vector<std::string> lines;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, NTarn::decision_store::kDecisionsKey,
                      0, KEY_READ, decisions.Receive()) != ERROR_SUCCESS) {
    return lines;
  }
  for (const DecisionEntry& entry :
       NTarn::ReadDecisionEntries(decisions.Get())) {
    EXPECT_EQ("CAS07337", entry.contentId);
    EXPECT_EQ(30u, entry.pendingWindowMinutes.value_or(0));
    lines.push_back(entry.name + "|" + entry.ground + "|" + entry.firstTime +
                    "|" + entry.lastTime + "|" +
                    std::to_string(entry.count.value_or(0)));
  }
  return lines;
}

TEST(DecisionRecordTest, CoalescesPrunesAndObeysTheSwitch) {
  struct Step {
    int seconds;
    const char* ground;
  };
  const std::vector<Step> alternating = [] {
    std::vector<Step> steps;
    for (int i = 0; i < 70; ++i) steps.push_back({i, i % 2 ? "B" : "A"});
    return steps;
  }();
  // -1: the value is not set. `restartAt`: the record is replaced by a new
  // one (a restarted service) before that step.
  // clang-format off
  const struct { const char* name; int local, policy; std::vector<Step> steps; size_t restartAt; std::vector<std::string> stored; } cases[] = {
      {"identical ones coalesce", -1, -1, {{0, "A"}, {60, "A"}, {120, "A"}}, 99,
       {"20261209T020000Z|A|2026-12-09T02:00:00Z|2026-12-09T02:02:00Z|3"}},
      {"a different one in between", -1, -1, {{0, "A"}, {60, "B"}, {120, "A"}}, 99,
       {"20261209T020000Z|A|2026-12-09T02:00:00Z|2026-12-09T02:00:00Z|1",
        "20261209T020100Z|B|2026-12-09T02:01:00Z|2026-12-09T02:01:00Z|1",
        "20261209T020200Z|A|2026-12-09T02:02:00Z|2026-12-09T02:02:00Z|1"}},
      {"one second, three entries", -1, -1, {{0, "A"}, {0, "B"}, {0, "C"}}, 99,
       {"20261209T020000Z|A|2026-12-09T02:00:00Z|2026-12-09T02:00:00Z|1",
        "20261209T020000Z-0001|B|2026-12-09T02:00:00Z|2026-12-09T02:00:00Z|1",
        "20261209T020000Z-0002|C|2026-12-09T02:00:00Z|2026-12-09T02:00:00Z|1"}},
      {"a restart goes on from the newest", -1, -1, {{0, "B"}, {30, "A"}, {60, "A"}}, 2,
       {"20261209T020000Z|B|2026-12-09T02:00:00Z|2026-12-09T02:00:00Z|1",
        "20261209T020030Z|A|2026-12-09T02:00:30Z|2026-12-09T02:01:00Z|2"}},
      {"switched off", 0, -1, {{0, "A"}}, 99, {}},
      {"switched on", 1, -1, {{0, "A"}}, 99,
       {"20261209T020000Z|A|2026-12-09T02:00:00Z|2026-12-09T02:00:00Z|1"}},
      {"policy switches off", 1, 0, {{0, "A"}}, 99, {}},
      {"policy switches on", 0, 1, {{0, "A"}}, 99,
       {"20261209T020000Z|A|2026-12-09T02:00:00Z|2026-12-09T02:00:00Z|1"}},
      {"64 kept, the oldest go", -1, -1, alternating, 99, {}},
  };
  // clang-format on
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    vpltest::ScratchLocalMachine registry;
    if (test.local >= 0)
      registry.Set(kSettings, "RecordDecisions", DWORD(test.local));
    if (test.policy >= 0)
      registry.Set(kPolicy, "RecordDecisions", DWORD(test.policy));
    std::shared_ptr<NTarn::DecisionRecord> record =
        NTarn::DecisionRecord::ForThisProcess();
    ASSERT_TRUE(record);
    for (size_t i = 0; i < test.steps.size(); ++i) {
      if (i == test.restartAt) {
        record.reset();
        record = NTarn::DecisionRecord::ForThisProcess();
      }
      record->Record(Decision(test.steps[i].seconds, test.steps[i].ground));
    }
    record.reset();
    const std::vector<std::string> stored = Stored();
    if (test.steps.size() == alternating.size()) {
      ASSERT_EQ(64u, stored.size());
      EXPECT_EQ(
          "20261209T020006Z|A|2026-12-09T02:00:06Z|2026-12-09T02:00:06Z|1",
          stored.front());
      EXPECT_EQ(
          "20261209T020109Z|B|2026-12-09T02:01:09Z|2026-12-09T02:01:09Z|1",
          stored.back());
    } else {
      EXPECT_EQ(test.stored, stored);
    }
  }
}

}  // namespace
