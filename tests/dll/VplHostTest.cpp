// vplhost.exe as an administrator runs it: decisions and exit codes.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "common/ScopedHandle.h"
#include "tests/support/RegistryTree.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TestRegistryKey.h"

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

// README's table of the maintenance-window samples: each replays to the
// decision a row gives it, with the rules on and off.
TEST(VplHost, WindowSamplesReplayToTheirReadmeDecisions) {
  FILE* file = _wfopen(VPL_SAMPLES_DIR_W L"/../README.md", L"rb");
  ASSERT_NE(file, nullptr);
  std::string readme;
  char chunk[4096];
  for (size_t read; (read = fread(chunk, 1, sizeof(chunk), file)) > 0;)
    readme.append(chunk, read);
  fclose(file);
  // | `samples/NAME` | the machine | ON | OFF |
  const std::regex row(
      R"(\| `samples/([^`]+)` \| [^|]+ \| ([^|]+) \| ([^|]+) \|)");
  int rows = 0;
  for (std::sregex_iterator it(readme.begin(), readme.end(), row), end;
       it != end; ++it, ++rows) {
    const std::string name = (*it)[1];
    for (const int column : {2, 3}) {
      std::string cell = (*it)[column];
      cell.erase(cell.find_last_not_of(' ') + 1);
      SCOPED_TRACE(name + ", " + (column == 2 ? "ON" : "OFF") + ": " + cell);
      // "objection, \"TEXT\"" (TEXT may end in "...") or "no objection".
      std::string expected = kNone;
      if (cell != "no objection") {
        ASSERT_EQ(cell.rfind("objection, \"", 0), 0u);
        expected = "vplhost: decision: objection (3), reason \"" +
                   cell.substr(12, cell.size() - 13);
        if (expected.size() > 3 &&
            expected.compare(expected.size() - 3, 3, "...") == 0)
          expected.resize(expected.size() - 3);
      }
      const std::wstring wide(name.begin(), name.end());
      const HostRun run = RunVplHost(L"query " + Sample(wide.c_str()) +
                                     L" --maintenance-windows " +
                                     (column == 2 ? L"ON" : L"OFF"));
      EXPECT_EQ(run.exitCode, expected == kNone ? 0u : 3u) << run.output;
      EXPECT_NE(run.output.find(expected), std::string::npos) << run.output;
    }
  }
  EXPECT_EQ(rows, 4);
}

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
      {L"auto-power-down.json", 0, kNone},
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
      {L"autoshutdown --json", 2, "vplhost: --json does not apply to autoshutdown"},
      {L"query --scenario x.json --window soon", 2, "vplhost: --window needs a number of minutes"},
      // 32 bits of unsigned long would take both.
      {L"query --window -1", 2, "vplhost: --window needs a number of minutes from 0 to 2147483647"},
      {L"query --window 99999999999", 2, "vplhost: --window needs a number of minutes from 0 to 2147483647"},
      {L"jobs --hours 0", 2, "vplhost: --hours needs a number of hours from 1 to 8784"},
      {L"nonsense", 2, "vplhost: unknown command nonsense"},
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

// Every value below `path` with its type and bytes, keys included, so that
// two readings compare byte for byte.
std::vector<std::string> RawTree(const std::string& path) {
  std::vector<std::string> lines;
  NTarn::ScopedRegKey key;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ,
                      key.Receive()) != ERROR_SUCCESS)
    return lines;
  lines.push_back(path);
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD nameSize = sizeof(name);
    BYTE data[1024];
    DWORD dataSize = sizeof(data);
    DWORD type = 0;
    if (::RegEnumValueA(key.Get(), i, name, &nameSize, nullptr, &type, data,
                        &dataSize) != ERROR_SUCCESS)
      break;
    std::string line = path + "|" + name + "|" + std::to_string(type) + "|";
    for (DWORD b = 0; b < dataSize; ++b) line += std::to_string(data[b]) + ",";
    lines.push_back(line);
  }
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD nameSize = sizeof(name);
    if (::RegEnumKeyExA(key.Get(), i, name, &nameSize, nullptr, nullptr,
                        nullptr, nullptr) != ERROR_SUCCESS)
      break;
    for (const std::string& line : RawTree(path + "\\" + name))
      lines.push_back(line);
  }
  return lines;
}

std::wstring Dll() { return L" --dll \"" + ProgramFolder() + L"VplCMgr.dll\""; }

// Live runs read this machine: Wine's WMI has no root\ccm, so with
// monitoring on there is no client to ask. The plug-in writes its defaults
// back when it reads, but only into vplhost's scratch copy.
TEST(VplHost, LiveRunsExplainAndLeaveTheMachinesKeysAlone) {
  const vpltest::TestRegistryKey settings("Software\\Tarn\\Vesperline");
  // No MonitorJobs, which the plug-in would create; a window stored as text,
  // which a writing read would convert.
  settings.SetString("PendingSMSJobWindowMins", "30");
  settings.SetDword("debug", 0);
  // The plug-in's record of an evening and a night; no run adds to it.
  const struct { const char* key; const char* first; const char* last; DWORD count; const char* answer; const char* ground; const char* contentId; } kRecord[] = {
      {"20261208T220000Z", "2026-12-08T22:00:00Z", "2026-12-08T23:00:00Z", 2, "no objection", "nothingDue", ""},
      {"20261209T020000Z", "2026-12-09T02:00:00Z", "2026-12-09T03:00:00Z", 5, "objection", "jobsRunning", "CAS07337"},
  };
  for (const auto& entry : kRecord) {
    const std::string key = settings.Path() + "\\Decisions\\" + entry.key;
    auto text = [&](const char* name, const std::string& value) {
      ::RegSetKeyValueA(HKEY_LOCAL_MACHINE, key.c_str(), name, REG_SZ, value.c_str(),
                        static_cast<DWORD>(value.size() + 1));
    };
    text("FirstTime", entry.first);
    text("LastTime", entry.last);
    text("Question", "power-down question");
    text("Answer", entry.answer);
    text("Ground", entry.ground);
    if (*entry.contentId) {
      text("ContentID", entry.contentId);
      text("State", "Running");
    }
    ::RegSetKeyValueA(HKEY_LOCAL_MACHINE, key.c_str(), "Count", REG_DWORD, &entry.count,
                      sizeof(entry.count));
  }
  const std::vector<std::string> before = RawTree(settings.Path());
  wchar_t folder[MAX_PATH];
  ::GetTempPathW(MAX_PATH, folder);
  const std::wstring capture = std::wstring(folder) + L"vplhost-record-capture.json";
  const std::string quit = "quit\n";
  // `scratch`: the run says it reads a scratch copy of this machine's keys.
  // clang-format off
  const struct { std::wstring arguments; bool plugin, scratch; const std::string* input; const char* line; } cases[] = {
      {L"query", true, true, nullptr, "vplhost: reason: monitoring off, no objection: MonitorJobs \"OFF\" (default)"},
      {L"query --monitor ON", true, true, nullptr, "vplhost: reason: no ConfigMgr client (no root\\ccm or no CCM_Client object): no client, no objection"},
      {L"query --monitor ON", true, true, nullptr, "vplhost: reason: monitoring on: MonitorJobs \"ON\" (--monitor)"},
      {L"status", true, true, nullptr, "Management Client exists = NO."},
      {L"jobs --window 45", false, true, nullptr, "window 45 minutes (--window), horizon 24 hours"},
      {L"autoshutdown", true, true, &quit, "vplhost: DllCanUnloadNow returned S_OK"},
      {L"capture --out \"" + capture + L"\"", false, false, nullptr, "vplhost: captured into"},
      {L"query " + Sample(L"default.json"), false, false, nullptr, kNone},
      {L"autoshutdown " + Sample(L"auto-power-down.json"), false, false, &quit, "vplhost: DllCanUnloadNow returned S_OK"},
      {L"history", false, false, nullptr, "vplhost: objected 5 of the last 7 questions, every time for request CAS07337 in state Running"},
      {L"history --json --since \"2026-12-09 01:00\"", false, false, nullptr, "\"questions\":5,\"objected\":5"},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.arguments.begin(), c.arguments.end()));
    const HostRun run = RunVplHost(c.arguments + (c.plugin ? Dll() : L""), false, c.input);
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_NE(run.output.find(c.line), std::string::npos) << run.output;
    EXPECT_EQ(c.scratch, run.output.find("vplhost: settings from this machine") != std::string::npos)
        << run.output;
    EXPECT_EQ(RawTree(settings.Path()), before) << run.output;
  }
  // The record is history, not client state: a capture leaves it out.
  std::string captured;
  if (FILE* file = _wfopen(capture.c_str(), L"rb")) {
    char buffer[4096];
    for (size_t read; (read = fread(buffer, 1, sizeof(buffer), file)) > 0;)
      captured.append(buffer, read);
    fclose(file);
  }
  EXPECT_NE(std::string::npos, captured.find("PendingSMSJobWindowMins")) << captured;
  EXPECT_EQ(std::string::npos, captured.find("Decisions")) << captured;
  EXPECT_EQ(std::string::npos, captured.find("CAS07337")) << captured;
  ::DeleteFileW(capture.c_str());
  EXPECT_FALSE(
      vpltest::RegistryKeyExists(HKEY_LOCAL_MACHINE, L"Software\\VplHost"));
}

std::vector<std::wstring> BundledSamples() {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  const HANDLE search = ::FindFirstFileW(VPL_SAMPLES_DIR_W L"/*.json", &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    names.push_back(found.cFileName);
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  return names;
}

// The name the plug-in's verbose log gives the job it found due, empty when
// it found none.
std::string DueJobInLog(const nlohmann::json& document) {
  bool pending = false;
  const std::string next = "Next scheduled advert ";
  for (const auto& entry : document["log"]) {
    const std::string line = entry.get<std::string>();
    if (line.find(": SMSJobsDetector: Pending jobs detected") !=
        std::string::npos)
      pending = true;
    if (pending && line.rfind(next, 0) == 0)
      return line.substr(next.size(), line.find(" due to") - next.size());
  }
  return std::string();
}

// For every bundled sample the explanation comes to the plug-in's decision,
// and the first job `jobs` puts inside the window is the one the plug-in
// found due.
TEST(VplHost, ExplanationAndJobsAgreeWithThePluginOnEverySample) {
  const std::vector<std::wstring> samples = BundledSamples();
  ASSERT_GE(samples.size(), 11u);
  for (const std::wstring& sample : samples) {
    SCOPED_TRACE(std::string(sample.begin(), sample.end()));
    const HostRun query =
        RunVplHost(L"query --json --verbose " + Sample(sample.c_str()), true);
    const auto decided = nlohmann::json::parse(query.output, nullptr, false);
    ASSERT_TRUE(decided.is_object()) << query.output;
    EXPECT_EQ(decided["errors"], nlohmann::json::array()) << query.output;
    const std::string ground = decided["ground"];
    const std::string reason =
        decided["reason"].is_null() ? "" : decided["reason"].get<std::string>();
    EXPECT_EQ(ground == "jobsRunning", reason == "SMS\\CMgr jobs in progress");
    EXPECT_EQ(ground == "jobsPending",
              reason.find("pending") != std::string::npos);
    for (const auto& object : decided["reasons"])
      EXPECT_TRUE(object.contains("kind") && object.contains("text")) << object;
    EXPECT_EQ(decided["settings"]["MonitorJobs"]["value"].is_string(), true);

    const HostRun jobs = RunVplHost(
        L"jobs --json --scenario \"" VPL_SAMPLES_DIR_W L"/" + sample + L"\"",
        true);
    const auto listing = nlohmann::json::parse(jobs.output, nullptr, false);
    ASSERT_TRUE(listing.is_object()) << jobs.output;
    std::string firstInWindow;
    for (const auto& job : listing["jobs"]) {
      if (job["inWindow"].get<bool>()) {
        firstInWindow = "[" + job["advertisement"].get<std::string>() + "/" +
                        job["package"].get<std::string>() + "/" +
                        job["program"].get<std::string>() + "]";
        break;
      }
    }
    if (ground == "jobsPending" || ground == "nothingDue") {
      EXPECT_EQ(firstInWindow, DueJobInLog(decided)) << jobs.output;
    }
  }
}

nlohmann::json RunJson(const std::wstring& arguments) {
  const HostRun run = RunVplHost(arguments, true);
  const auto document = nlohmann::json::parse(run.output, nullptr, false);
  EXPECT_TRUE(document.is_object()) << run.output;
  return document;
}

// The jobs of a listing without the minutes, which move on between runs, and
// the window starts a sample states from the time it is read.
nlohmann::json JobsOf(nlohmann::json listing) {
  for (auto& job : listing["jobs"]) {
    for (auto& trigger : job["triggers"]) {
      trigger.erase("minutesFromNow");
      trigger.erase("windowOpens");
    }
  }
  return listing["jobs"];
}

// A capture of each sample's simulated client replays to the same decision
// and the same jobs ahead.
TEST(VplHost, CapturesReplayToTheSameDecisionAndJobs) {
  wchar_t folder[MAX_PATH];
  ::GetTempPathW(MAX_PATH, folder);
  const std::wstring capture = std::wstring(folder) + L"vplhost-capture-" +
                               std::to_wstring(::GetCurrentProcessId()) +
                               L".json";
  for (const std::wstring& sample : BundledSamples()) {
    SCOPED_TRACE(std::string(sample.begin(), sample.end()));
    const std::wstring original =
        L" --scenario \"" VPL_SAMPLES_DIR_W L"/" + sample + L"\"";
    const std::wstring replay = L" --scenario \"" + capture + L"\"";
    const HostRun run =
        RunVplHost(L"capture --out \"" + capture + L"\"" + original);
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    const nlohmann::json decided = RunJson(L"query --json" + original + Dll());
    const nlohmann::json replayed = RunJson(L"query --json" + replay + Dll());
    for (const char* member : {"exitCode", "reason", "ground"})
      EXPECT_EQ(replayed[member], decided[member]) << member;
    // The values, not where they came from: a replay's default is stated.
    for (const auto& setting : decided["settings"].items()) {
      EXPECT_EQ(replayed["settings"][setting.key()]["value"],
                setting.value()["value"]);
    }
    EXPECT_EQ(JobsOf(RunJson(L"jobs --json" + replay)),
              JobsOf(RunJson(L"jobs --json" + original)));
  }
  ::DeleteFileW(capture.c_str());
}

// What a console tool is expected to answer.
TEST(VplHost, ConsoleConventions) {
  // clang-format off
  const struct { std::wstring arguments; DWORD exitCode; const char* pattern; } cases[] = {
      {L"query --help", 0, R"(usage: vplhost query \[--scenario FILE\][\s\S]*)"},
      {L"--version", 0, R"(vplhost \d+\.\d+\.\d+\.\d+\s*)"},
      // A path is still the plain run.
      {L"\"" + ProgramFolder() + L"VplCMgr.dll\"", 0, R"([\s\S]*vplhost: DllCanUnloadNow returned S_OK\s*)"},
      // vplhost's own lines carry ISO 8601 local times.
      {L"query " + Sample(L"default.json"), 0, R"([\s\S]*\n\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d vplhost: decision: no objection \(0\)\s[\s\S]*)"},
      {L"details --json" + Dll(), 0, R"(\{"command":"details"[\s\S]*"module":"[^"]*VplCMgr.dll"[\s\S]*"exitCode":0\}\s*)"},
  };
  // clang-format on
  for (const auto& c : cases) {
    const HostRun run = RunVplHost(c.arguments, true);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
    EXPECT_TRUE(std::regex_match(run.output, std::regex(c.pattern)))
        << run.output;
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

// The shipped programs say which release they belong to.
TEST(VplHost, ProgramsCarryTheProjectVersion) {
  for (const wchar_t* program : {L"vplhost.exe", L"vplbench.exe"}) {
    const std::wstring path = ProgramFolder() + program;
    std::string data(::GetFileVersionInfoSizeW(path.c_str(), nullptr), '\0');
    ASSERT_FALSE(data.empty()) << path.c_str();
    ASSERT_TRUE(::GetFileVersionInfoW(
        path.c_str(), 0, static_cast<DWORD>(data.size()), data.data()));
    void* text = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(data.data(),
                                 L"\\StringFileInfo\\040904B0\\FileVersion",
                                 &text, &length));
    EXPECT_STREQ(VPL_PROJECT_VERSION_W, static_cast<const wchar_t*>(text))
        << path.c_str();
  }
}

}  // namespace
