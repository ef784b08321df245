// vplhost.exe as an administrator runs it: decisions and exit codes.
#include <windows.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <regex>
#include <string>

#include "tests/support/RunProgram.h"

namespace {

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH];
  std::wstring folder(path, ::GetModuleFileNameW(nullptr, path, MAX_PATH));
  folder.resize(folder.find_last_of(L"\\/") + 1);
  return folder;
}

struct HostRun {
  DWORD exitCode;
  std::string output;  // standard output, and standard error unless set apart
};

// Runs vplhost.exe from the test program's folder with the plug-in beside it.
HostRun RunVplHost(const std::wstring& arguments, bool errorsApart = false,
                   const std::string* input = nullptr) {
  HostRun run{};
  run.exitCode = vpltest::RunProgram(
      L"\"" + ProgramFolder() + L"vplhost.exe\" " + arguments, &run.output,
      errorsApart, input);
  return run;
}

std::wstring Sample(const wchar_t* name) {
  return L"--scenario \"" VPL_SAMPLES_DIR_W L"/" + std::wstring(name) +
         L"\" --dll \"" + ProgramFolder() + L"VplCMgr.dll\"";
}

constexpr char kNone[] = "vplhost: decision: no objection (0)";
constexpr char kRunning[] =
    "vplhost: decision: objection (3), reason \"SMS\\CMgr jobs in progress\"";
#define PENDING(minutes)                                               \
  "vplhost: decision: objection (3), reason \"SMS\\CMgr jobs pending " \
  "in " minutes " minutes\""

TEST(VplHost, EachBundledScenarioGivesItsDecision) {
  // clang-format off
  const struct { const wchar_t* arguments; DWORD exitCode; const char* decision; } cases[] = {
      {L"default.json", 0, kNone},
      {L"deployment-running.json", 3, kRunning},
      {L"job-pending.json\" --window \"30", 3, PENDING("30")},
      {L"job-expired.json\" --window \"30", 0, kNone},
      {L"job-disabled.json\" --window \"30", 0, kNone},
      {L"update-installing.json", 3, kRunning},
      {L"no-client.json", 0, kNone},
      // Settings the scenario carries, and the command line over them.
      {L"job-pending-window.json", 3, PENDING("30")},
      {L"job-pending-window.json\" --window \"45", 3, PENDING("45")},
      {L"deployment-policy-off.json", 0, kNone},
      // The stated battery, which the plug-in reads from the power manager.
      {L"portable-on-battery.json", 0, kNone},
      {L"portable-on-ac.json", 3, kRunning},
      // A request left running days ago, with StaleJobHours 72.
      {L"stale-request.json", 0, kNone},
  };
  // clang-format on
  for (const auto& c : cases) {
    const HostRun run = RunVplHost(L"query " + Sample(c.arguments));
    EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
    EXPECT_NE(run.output.find(c.decision), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("DllCanUnloadNow returned S_OK"),
              std::string::npos)
        << run.output;
  }
}

// With --json standard output is one document: the decision and the log.
TEST(VplHost, JsonDocumentCarriesTheDecisionAndTheLog) {
  // A null decision for status, which decides nothing.
  // clang-format off
  const struct { std::wstring arguments; DWORD exitCode; const char* decision; int response; const char* reason; } cases[] = {
      {L"query --json --verbose " + Sample(L"deployment-running.json"), 3, "objection", 3, "SMS\\CMgr jobs in progress"},
      {L"query --json " + Sample(L"default.json"), 0, "no objection", 0, nullptr},
      {L"status --json " + Sample(L"default.json"), 0, nullptr, 0, nullptr},
  };
  // clang-format on
  for (const auto& c : cases) {
    const HostRun run = RunVplHost(c.arguments, true);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
    const auto document = nlohmann::json::parse(run.output, nullptr, false);
    ASSERT_TRUE(document.is_object()) << run.output;
    EXPECT_EQ(document["exitCode"], c.exitCode);
    EXPECT_EQ(document["dllCanUnloadNow"], "S_OK");
    EXPECT_EQ(document["observers"].size(), 1u) << run.output;
    EXPECT_FALSE(document["observers"][0]["name"].get<std::string>().empty());
    if (c.decision) {
      EXPECT_EQ(document["decision"], c.decision);
      EXPECT_EQ(document["response"], c.response);
      EXPECT_EQ(document["observer"], document["observers"][0]["name"]);
      EXPECT_EQ(document["reason"],
                c.reason ? nlohmann::json(c.reason) : nlohmann::json());
    } else {
      EXPECT_FALSE(document.contains("decision"));
    }
    // Verbose runs log, one line an element, queries' lines time-stamped.
    ASSERT_TRUE(document["log"].is_array());
    if (c.arguments.find(L"--verbose") != std::wstring::npos || !c.decision) {
      EXPECT_FALSE(document["log"].empty()) << run.output;
    }
    const std::regex stamped(
        R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3}: [^\n]*)");
    const std::regex oneLine(R"([^\n]+)");
    for (const auto& line : document["log"]) {
      EXPECT_TRUE(std::regex_match(line.get<std::string>(),
                                   c.decision ? stamped : oneLine))
          << line;
    }
  }
}

TEST(VplHost, ErrorsHaveTheirOwnExitCodes) {
  // clang-format off
  const struct { std::wstring arguments; DWORD exitCode; const char* message; } cases[] = {
      {L"query", 2, "vplhost: query needs --scenario FILE"},
      {L"details --json", 2, "vplhost: --json applies to query, status and schedule"},
      {L"query --scenario x.json --window soon", 2, "vplhost: --window needs a number of minutes"},
      {L"query " + Sample(L"no-such-scenario.json"), 4, "no-such-scenario.json: cannot be opened"},
      {L"details --dll Z:\\no\\such\\VplCMgr.dll", 5, "vplhost: cannot load"},
      // Loads, but has no such class.
      {L"details --dll oleaut32.dll", 5, "oleaut32.dll cannot create class {7FAE74E0-D06E-4A5C-A4BB-5EDF2FB6A893}: DllGetClassObject returned 0x80040111"},
      {L"schedule 00011E0000380000", 6, "invalid: recurrence type 7 is unknown"},
      // A query asking for JSON gets one document even when it fails.
      {L"query --json --window soon", 2, "vplhost: --window needs a number of minutes"},
      {L"query --json " + Sample(L"default.json") + L" --dll oleaut32.dll", 5, "vplhost: "},
  };
  // clang-format on
  for (const auto& c : cases) {
    const bool json = c.arguments.rfind(L"query --json", 0) == 0;
    const HostRun run = RunVplHost(c.arguments, json);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
    std::string message = run.output;
    if (json) {
      const auto document = nlohmann::json::parse(run.output, nullptr, false);
      ASSERT_TRUE(document.is_object()) << run.output;
      EXPECT_EQ(document["error"]["exitCode"], c.exitCode) << run.output;
      EXPECT_EQ(document["exitCode"], c.exitCode) << run.output;
      message = document["error"]["message"].get<std::string>();
    }
    EXPECT_NE(message.find(c.message), std::string::npos) << run.output;
  }
}

// The auto-shutdown run starts the plug-in's sequence and, told to quit,
// stops its thread, lets everything go and unloads the DLL.
TEST(VplHost, AutoshutdownStartsTheSequenceAndStopsCleanly) {
  const std::string input = "quit\n";
  const HostRun run = RunVplHost(
      L"autoshutdown --verbose " + Sample(L"default.json"), false, &input);
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  for (const char* line :
       {": Kicking off the SMS\\CMgr auto power down thread to monitor the "
        "CM/SMS Client policy evaluator",
        ": Exiting the SMS\\CMgr auto-powerdown thread",
        "vplhost: Uninitialize returned 0x00000000",
        "vplhost: DllCanUnloadNow returned S_OK"}) {
    EXPECT_NE(run.output.find(line), std::string::npos) << line << run.output;
  }
}

}  // namespace
