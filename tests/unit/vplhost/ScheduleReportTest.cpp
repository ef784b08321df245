#include "tools/vplhost/ScheduleReport.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "tools/vplhost/ExitCode.h"

namespace {

// Documented example tokens; occurrences around Sun 15 Feb 2026, 12:00 local:
// every 10 days from 1 January 2026, 01:00; every third week on Wednesday,
// 22:00 for two hours; the second Tuesday of every month, 03:00; the last day
// of every month, midnight.
// clang-format off
const struct { const wchar_t* token; const char* recurrence; const char* start; bool utc; int durationHours;
               const char *next, *nextEnd, *last; } kDecoded[] = {
    {L"00211E0000100050", R"({"type":"interval","days":10,"hours":0,"minutes":0})", "2026-01-01 01:00", false, 0,
     "2026-02-20 01:00:00", nullptr, "2026-02-10 01:00:00"},
    {L"02C71E00101C6000", R"({"type":"weekly","weekday":"Wednesday","weeks":3})", "2026-01-07 22:00", false, 2,
     "2026-02-18 22:00:00", "2026-02-19 00:00:00", "2026-01-28 22:00:00"},
    {L"00611E0000231400", R"({"type":"monthly by weekday","week":"second","weekday":"Tuesday","months":1})",
     "2026-01-01 03:00", false, 0, "2026-03-10 03:00:00", nullptr, "2026-02-10 03:00:00"},
    {L"00011E0000280400", R"({"type":"monthly by date","day":0,"months":1})", "2026-01-01 00:00", false, 0,
     "2026-02-28 00:00:00", nullptr, "2026-01-31 00:00:00"},
    // Published offset tokens: two days after the third Tuesday, seven after the first Monday.
    {L"005C7D4020331680", R"({"type":"monthly by weekday with offset","week":"third","weekday":"Tuesday","months":1,"offset_days":2})",
     "2023-07-28 02:00", false, 4, "2026-02-19 02:00:00", "2026-02-19 06:00:00", "2026-01-22 02:00:00"},
    {L"00211D80083213C0", R"({"type":"monthly by weekday with offset","week":"first","weekday":"Monday","months":1,"offset_days":7})",
     "2024-01-01 01:00", false, 1, "2026-03-09 01:00:00", "2026-03-09 02:00:00", "2026-02-09 01:00:00"},
};
// clang-format on

__time64_t Reference() {
  __time64_t reference = 0;
  EXPECT_TRUE(vplhost::ParseLocalTime(L"2026-02-15 12:00", &reference));
  return reference;
}

nlohmann::json Describe(const std::wstring& schedule, int expectedExit) {
  std::string out;
  EXPECT_EQ(vplhost::DescribeSchedules({schedule}, true, Reference(), &out),
            expectedExit);
  return nlohmann::json::parse(out);
}

TEST(ScheduleReport, DecodesDocumentedTokensWithTheirOccurrences) {
  for (const auto& c : kDecoded) {
    const nlohmann::json token =
        Describe(c.token, vplhost::kExitSuccess)["tokens"][0];
    SCOPED_TRACE(token.dump());
    EXPECT_TRUE(token["valid"].get<bool>());
    EXPECT_EQ(token["recurrence"], nlohmann::json::parse(c.recurrence));
    EXPECT_EQ(token["start"], c.start);
    EXPECT_EQ(token["utc"], c.utc);
    EXPECT_EQ(token["duration"]["hours"], c.durationHours);
    EXPECT_EQ(token["next"], c.next);
    EXPECT_EQ(token["next_end"],
              c.nextEnd ? nlohmann::json(c.nextEnd) : nlohmann::json());
    EXPECT_EQ(token["last"], c.last);
  }
}

TEST(ScheduleReport, NamesTheOffsetInItsText) {
  std::string text;
  EXPECT_EQ(vplhost::DescribeSchedules({L"005C7D4020331680"}, false,
                                       Reference(), &text),
            vplhost::kExitSuccess);
  EXPECT_NE(text.find("  recurrence: monthly by weekday with offset, 2 days "
                      "after the third Tuesday of every month\n"),
            std::string::npos)
      << text;
}

TEST(ScheduleReport, SplitsASchedulesTokensAndReadsTheUtcFlag) {
  // A non-recurring UTC start for an hour, then a token with an invalid month.
  const nlohmann::json tokens = Describe(L"79213E00080800010001DE0000080000",
                                         vplhost::kExitInvalidToken)["tokens"];
  ASSERT_EQ(tokens.size(), 2u);
  EXPECT_EQ(tokens[0]["start"], "2026-03-01 09:30");
  EXPECT_EQ(tokens[0]["utc"], true);
  EXPECT_EQ(tokens[0]["recurrence"]["type"], "none");
  EXPECT_EQ(tokens[0]["duration"]["hours"], 1);
  EXPECT_EQ(tokens[0]["last"], nullptr);
  EXPECT_EQ(tokens[1]["valid"], false);
  EXPECT_EQ(tokens[1]["error"], "start month 13 is out of range");
}

TEST(ScheduleReport, NamesWhyATokenIsInvalid) {
  // clang-format off
  const struct { const wchar_t* token; const char* error; } cases[] = {
      {L"00011E0000380000", "recurrence type 7 is unknown"},
      {L"00011E00002804", "14 characters instead of 16"},
      {L"00011E00002804Z0", "character 15 is not a hexadecimal digit"},
  };
  // clang-format on
  for (const auto& c : cases) {
    std::string text;
    EXPECT_EQ(vplhost::DescribeSchedules({c.token}, false, Reference(), &text),
              vplhost::kExitInvalidToken);
    EXPECT_NE(text.find(std::string("invalid: ") + c.error), std::string::npos)
        << text;
  }
}

TEST(ScheduleReport, ReadsOnlyWholeLocalTimes) {
  __time64_t time = 0;
  EXPECT_TRUE(vplhost::ParseLocalTime(L"2026-02-15 12:00:30", &time));
  for (const wchar_t* text :
       {L"2026-02-30 12:00", L"2026-02-15 12:00x", L"tomorrow"}) {
    EXPECT_FALSE(vplhost::ParseLocalTime(text, &time)) << text;
  }
}

}  // namespace
