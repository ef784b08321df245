#include "tools/vplhost/HistoryReport.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using NTarn::DecisionEntry;

// An entry of the record: `count` identical decisions from `first` to
// `last` (hours after 2026-12-08T20:00:00Z).
DecisionEntry Entry(int first, int last, DWORD count, const char* question,
                    const char* answer, const char* ground,
                    const char* contentId = "") {
  DecisionEntry entry = DecisionEntry::At(1796760000 + first * 3600);
  entry.lastTime = NTarn::IsoUtcTime(1796760000 + last * 3600);
  entry.name = "e" + std::to_string(first);
  entry.count = count;
  entry.question = question;
  entry.answer = answer;
  entry.ground = ground;
  if (*contentId) {
    entry.contentId = contentId;
    entry.state = "Running";
  }
  return entry;
}

constexpr char kQuestion[] = "power-down question";

TEST(HistoryReportTest, SummarySaysWhatHeldTheMachineUp) {
  const DecisionEntry idle =
      Entry(0, 1, 2, kQuestion, "no objection", "nothingDue");
  const DecisionEntry held =
      Entry(2, 4, 5, kQuestion, "objection", "jobsRunning", "CAS07337");
  // clang-format off
  const struct { const char* name; std::vector<DecisionEntry> entries; std::optional<std::string> since; std::string summary; size_t shown; } cases[] = {
      {"one request", {idle, held}, std::nullopt, "objected 5 of the last 7 questions, every time for request CAS07337 in state Running", 2},
      {"since leaves the idle entry out", {idle, held}, "2026-12-08T22:00:00Z", "objected 5 of the last 5 questions, every time for request CAS07337 in state Running", 1},
      {"two requests", {held, Entry(5, 5, 1, kQuestion, "objection", "jobsRunning", "CAS00001")}, std::nullopt,
       "objected 6 of the last 6 questions: request CAS00001 in state Running 1 time, request CAS07337 in state Running 5 times", 2},
      {"pilot", {idle, Entry(2, 4, 3, kQuestion, "would object", "jobsRunning", "CAS07337")}, std::nullopt,
       "would have objected (VetoMode REPORT) 3 of the last 5 questions, every time for request CAS07337 in state Running", 2},
      {"auto power-down alone", {Entry(0, 0, 1, "auto power-down", "power-down requested", "attemptsExhausted")}, std::nullopt,
       "no power-down question recorded", 1},
      {"empty", {}, std::nullopt, "no power-down question recorded", 0},
  };
  // clang-format on
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    const nlohmann::ordered_json history =
        vplhost::DescribeHistory(test.entries, test.since);
    EXPECT_EQ(test.summary, history["summary"]);
    ASSERT_EQ(test.shown, history["entries"].size());
    // Newest first.
    if (test.shown > 1) {
      EXPECT_GT(history["entries"][0]["firstTime"].get<std::string>(),
                history["entries"][1]["firstTime"].get<std::string>());
    }
  }
  const std::string text = vplhost::HistoryText(
      vplhost::DescribeHistory({idle, held}, std::nullopt));
  EXPECT_NE(std::string::npos,
            text.find("  2026-12-08T22:00:00Z to 2026-12-09T00:00:00Z  5x "
                      "power-down question: objection (jobsRunning), request "
                      "CAS07337 in state Running\n"))
      << text;
  EXPECT_NE(std::string::npos,
            text.find("vplhost: answers: objection 5, no objection 2\n"))
      << text;
}

}  // namespace
