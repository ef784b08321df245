// vplhost.exe as an administrator runs it: decisions and exit codes.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <cstdio>
#include <cstdlib>
#include <ctime>
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
// In a zone run (VPL_CHILD_TZ set) vplhost gets that Unix zone, which Wine
// maps to the Windows zone; the test program's own TZ is cleared by then.
HostRun RunVplHost(const std::wstring& arguments, bool errorsApart = false,
                   const std::string* input = nullptr) {
  char zone[64] = "";
  const bool zoned =
      ::GetEnvironmentVariableA("VPL_CHILD_TZ", zone, sizeof(zone)) > 0;
  if (zoned) ::SetEnvironmentVariableA("TZ", zone);
  HostRun run{};
  run.exitCode = vpltest::RunProgram(
      L"\"" + ProgramFolder() + L"vplhost.exe\" " + arguments, &run.output,
      errorsApart, input);
  if (zoned) ::SetEnvironmentVariableA("TZ", nullptr);
  return run;
}

// A file in the temporary folder holding `bytes`, removed with the object.
class TempFile {
 public:
  TempFile(const wchar_t* name, const std::string& bytes) {
    wchar_t folder[MAX_PATH];
    ::GetTempPathW(MAX_PATH, folder);
    m_path = std::wstring(folder) + L"vplhost-" +
             std::to_wstring(::GetCurrentProcessId()) + L"-" + name;
    NTarn::ScopedHandle file(::CreateFileW(m_path.c_str(), GENERIC_WRITE, 0,
                                           nullptr, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                &written, nullptr);
  }
  ~TempFile() { ::DeleteFileW(m_path.c_str()); }
  const std::wstring& Path() const { return m_path; }

 private:
  std::wstring m_path;
};

std::string ReadFileBytes(const std::wstring& path) {
  std::string bytes;
  NTarn::ScopedHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                         FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
  char buffer[4096];
  DWORD read = 0;
  while (::ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr) &&
         read > 0)
    bytes.append(buffer, read);
  return bytes;
}

std::string SampleText(const wchar_t* name) {
  return ReadFileBytes(VPL_SAMPLES_DIR_W L"/" + std::wstring(name));
}

// UTF-16 with a byte-order mark, as Windows PowerShell 5.1 writes a file.
std::string Utf16(const std::string& utf8, bool bigEndian) {
  std::wstring wide(utf8.size(), L'\0');
  wide.resize(::MultiByteToWideChar(CP_UTF8, 0, utf8.data(),
                                    static_cast<int>(utf8.size()), wide.data(),
                                    static_cast<int>(wide.size())));
  std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (wchar_t c : wide) {
    const char low = static_cast<char>(c & 0xFF);
    const char high = static_cast<char>(c >> 8);
    bytes += bigEndian ? std::string{high, low} : std::string{low, high};
  }
  return bytes;
}

std::string Replaced(std::string text, const std::string& from,
                     const std::string& to) {
  const size_t at = text.find(from);
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
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
      // The largest window the installer and the template take.
      {L"job-pending.json\" --window \"10080", 3, PENDING("10080")},
      {L"deployment-policy-off.json", 0, kNone},
      // The stated battery, which the plug-in reads from the power manager.
      {L"portable-on-battery.json", 0, kNone},
      {L"portable-on-ac.json", 3, kRunning},
      {L"auto-power-down.json", 0, kNone},
      // A request left running days ago, with StaleJobHours 72.
      {L"stale-request.json", 0, kNone},
      // A task sequence runs: its request is a subclass instance.
      {L"task-sequence-running.json", 3, kRunning},
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
      {L"query --window -1", 2, "vplhost: --window needs a number of minutes from 0 to 10080"},
      {L"query --window 10081", 2, "vplhost: --window needs a number of minutes from 0 to 10080"},
      {L"query --window +30", 2, "vplhost: --window needs a number of minutes from 0 to 10080"},
      {L"query --window \" 30\"", 2, "vplhost: --window needs a number of minutes from 0 to 10080"},
      {L"jobs --hours 0", 2, "vplhost: --hours needs a number of hours from 1 to 8784"},
      {L"jobs --hours 8785", 2, "vplhost: --hours needs a number of hours from 1 to 8784"},
      // An option a command would ignore is refused.
      {L"jobs --dll VplCMgr.dll", 2, "vplhost: --dll does not apply to jobs"},
      {L"nonsense", 2, "vplhost: unknown command nonsense"},
      {L"query " + Sample(L"no-such-scenario.json"), 4, "no-such-scenario.json: cannot be opened: "},
      {L"query " + Sample(L"no-such-scenario.json"), 4, " (error 2)"},
      {L"query " + Sample(L""), 4, "cannot be opened: it is a folder, not a file"},
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
  // Scratch keys of runs that died, one under a process id given to another
  // process since, and one of a run still going (this program's, with its
  // start time), which stays.
  const std::string runs = "Software\\VplHost\\Settings\\";
  FILETIME created, exited, kernel, user;
  ASSERT_TRUE(::GetProcessTimes(::GetCurrentProcess(), &created, &exited,
                                &kernel, &user));
  char alive[48];
  snprintf(alive, sizeof(alive), "%lu-%08lx%08lx", ::GetCurrentProcessId(),
           created.dwHighDateTime, created.dwLowDateTime);
  const std::string dead[] = {
      runs + "4000000000-0000000000000000",
      runs + std::to_string(::GetCurrentProcessId()) + "-0000000000000001"};
  for (const std::string& key : {dead[0], dead[1], runs + alive}) {
    NTarn::ScopedRegKey created;
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegCreateKeyExA(
                  HKEY_LOCAL_MACHINE, (key + "\\Software").c_str(), 0, nullptr,
                  0, KEY_ALL_ACCESS, nullptr, created.Receive(), nullptr));
  }
  wchar_t folder[MAX_PATH];
  ::GetTempPathW(MAX_PATH, folder);
  const std::wstring capture = std::wstring(folder) + L"vplhost-record-capture.json";
  const std::string quit = "quit\n";
  // `scratch`: the run says it reads a scratch copy of this machine's keys.
  // clang-format off
  const struct { std::wstring arguments; bool plugin, scratch; const std::string* input; const char* line; } cases[] = {
      {L"query", true, true, nullptr, "vplhost: reason: monitoring off, no objection: MonitorJobs \"OFF\" (not set: the plug-in's default)"},
      {L"query", true, true, nullptr, "vplhost: setting PendingSMSJobWindowMins 30 (this machine's setting)"},
      {L"status", true, true, nullptr, "vplhost: setting LogOffAction \"NEVER\" (not set: the plug-in's default)"},
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
  for (const std::string& key : dead) {
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              ::RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), nullptr,
                             RRF_RT_ANY, nullptr, nullptr, nullptr))
        << key;
  }
  EXPECT_EQ(ERROR_SUCCESS,
            ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, (runs + alive).c_str()));
  ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, (runs + alive).c_str());
  // The last run takes the parents with it.
  EXPECT_EQ(0u, RunVplHost(L"query" + Dll()).exitCode);
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
    for (const char* name :
         {"MonitorJobs", "PendingSMSJobWindowMins", "AllowedShutdownJobStates",
          "AllowedShutdownUpdateStates", "StaleJobHours", "MaintenanceWindows", "VetoMode",
          "LogOffAction", "RetryAttempts", "RetryInterval", "CountdownSecs",
          "ShutdownMsg", "debug"}) {
      const auto& setting = decided["settings"][name];
      EXPECT_TRUE(setting.contains("value") && setting["source"].is_string())
          << name << decided["settings"];
    }
    EXPECT_TRUE(decided["nextAllowedReason"].is_string()) << query.output;
    // No objection: now; a running job: when it ends, not known.
    if (ground == "jobsRunning") {
      EXPECT_TRUE(decided["nextAllowed"].is_null()) << query.output;
    } else if (decided["exitCode"] == 0) {
      EXPECT_TRUE(decided["nextAllowed"].is_string()) << query.output;
    }

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
    // Only what the plug-in reads: no serial numbers, asset tags, users or
    // command lines.
    const std::string captured = ReadFileBytes(capture);
    for (const char* unread : {"SerialNumber", "SMBIOSAssetTag", "S-1-5-21",
                               "ADMINPASS", "PRG_CommandLine", "TS_Sequence",
                               "ClientId", "Manufacturer", "FirstEvalTime"})
      EXPECT_EQ(captured.find(unread), std::string::npos) << unread;
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

// Scenario files as administrators save them and mistype them, through the
// file name vplhost is given.
TEST(VplHost, ScenarioFilesAsAdministratorsSaveThem) {
  const std::string running = SampleText(L"deployment-running.json");
  // clang-format off
  const struct { const wchar_t* name; std::string bytes; DWORD exitCode; const char* text; } cases[] = {
      // Windows PowerShell 5.1's > and Out-File.
      {L"utf16.json", Utf16(running, false), 3, kRunning},
      {L"utf16be.json", Utf16(running, true), 4, "utf16be.json: UTF-16 big-endian text; save it as UTF-8"},
      {L"ansi.json", Replaced(running, "runs a deployment", "runs a d\xE9ployment"), 4, "ansi.json: not UTF-8 text (an ANSI code page?); save it as UTF-8"},
      // A misspelt name no longer holds the power-down up: said on standard error.
      {L"namespace.json", Replaced(running, "\"root\\\\ccm\\\\SoftMgmtAgent\"", "\"root\\\\ccm\\\\SoftMgmtAgnt\""), 0,
       "vplhost: warning: "},
      {L"namespace.json", Replaced(running, "\"root\\\\ccm\\\\SoftMgmtAgent\"", "\"root\\\\ccm\\\\SoftMgmtAgnt\""), 0,
       ": the plug-in never reads namespace \"root\\ccm\\SoftMgmtAgnt\""},
      {L"class.json", Replaced(running, "\"CCM_ExecutionRequestEx\"", "\"CCM_ExecutionRequestX\""), 0,
       ": the plug-in never reads class \"CCM_ExecutionRequestX\" in namespace \"root\\ccm\\SoftMgmtAgent\""},
  };
  // clang-format on
  for (const auto& c : cases) {
    const TempFile file(c.name, c.bytes);
    const HostRun run =
        RunVplHost(L"query --scenario \"" + file.Path() + L"\" --dll \"" +
                   ProgramFolder() + L"VplCMgr.dll\"");
    EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
    EXPECT_NE(run.output.find(c.text), std::string::npos) << run.output;
  }
  // A file another program holds open without sharing.
  const TempFile locked(L"locked.json", running);
  const NTarn::ScopedHandle holder(
      ::CreateFileW(locked.Path().c_str(), GENERIC_READ, 0, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  const HostRun run =
      RunVplHost(L"query --scenario \"" + locked.Path() + L"\"" + Dll());
  EXPECT_EQ(run.exitCode, 4u) << run.output;
  EXPECT_NE(run.output.find("locked.json: cannot be opened: "),
            std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find(" (error 32)"), std::string::npos) << run.output;
}

// Every setting with the value the plug-in goes by and its source, in the
// lines of status and the JSON of both commands; texts too long for the
// plug-in are warnings in the JSON too.
TEST(VplHost, SettingsShowTheirValueAndSource) {
  const TempFile longMessage(
      L"long.json",
      "{\"registry\": {\"Software\\\\Tarn\\\\Vesperline\": {\"ShutdownMsg\": "
      "\"" +
          std::string(600, 'x') + "\"}}}");
  // clang-format off
  const struct { std::wstring arguments; const char* name; nlohmann::json value; const char* source; } cases[] = {
      {L"query --json " + Sample(L"job-pending-window.json"), "PendingSMSJobWindowMins", 30, "scenario"},
      {L"status --json " + Sample(L"job-pending-window.json"), "PendingSMSJobWindowMins", 30, "scenario"},
      {L"query --json --window 45 " + Sample(L"job-pending-window.json"), "PendingSMSJobWindowMins", 45, "--window"},
      {L"query --json " + Sample(L"deployment-policy-off.json"), "MonitorJobs", "OFF", "policy"},
      {L"query --json " + Sample(L"default.json"), "MonitorJobs", "ON", "vplhost"},
      {L"query --json --monitor on " + Sample(L"default.json"), "MonitorJobs", "on", "--monitor"},
      {L"query --json " + Sample(L"stale-request.json"), "StaleJobHours", 72, "scenario"},
      {L"query --json " + Sample(L"auto-power-down.json"), "LogOffAction", "PASSIVE", "scenario"},
      {L"query --json " + Sample(L"default.json"), "LogOffAction", "NEVER", "default"},
      {L"query --json " + Sample(L"default.json"), "RetryInterval", 0, "default"},
      {L"query --json --verbose " + Sample(L"default.json"), "debug", 16, "--verbose"},
      // Too long to be read: the plug-in goes by its default.
      {L"status --json --scenario \"" + longMessage.Path() + L"\"" + Dll(), "ShutdownMsg", "", "scenario"},
  };
  // clang-format on
  for (const auto& c : cases) {
    const nlohmann::json document = RunJson(c.arguments);
    const auto& setting = document["settings"][c.name];
    EXPECT_EQ(setting["value"], c.value) << c.name << document["settings"];
    EXPECT_EQ(setting["source"], c.source) << c.name << document["settings"];
  }
  const nlohmann::json status = RunJson(L"status --json --scenario \"" +
                                        longMessage.Path() + L"\"" + Dll());
  ASSERT_EQ(status["warnings"].size(), 1u) << status;
  EXPECT_EQ(status["warnings"][0]["kind"], "textTooLong");
  EXPECT_EQ(status["warnings"][0]["value"], "ShutdownMsg");
  EXPECT_EQ(status["warnings"][0]["length"], 600);
  EXPECT_EQ(status["warnings"][0]["limit"], 499);
  const HostRun text = RunVplHost(L"status " + Sample(L"auto-power-down.json"));
  EXPECT_NE(text.output.find(
                "vplhost: setting LogOffAction \"PASSIVE\" (the scenario's "
                "registry)"),
            std::string::npos)
      << text.output;
}

// When the plug-in would next allow a power-down: the first minute without
// a job due within the window, or none within 24 hours.
TEST(VplHost, QueryTellsWhenAPowerDownIsNextAllowed) {
  // Every 20 minutes: with a 30-minute window always due.
  const nlohmann::json always =
      RunJson(L"query --json " + Sample(L"job-pending-window.json"));
  EXPECT_TRUE(always["nextAllowed"].is_null()) << always;
  EXPECT_EQ(always["nextAllowedReason"].get<std::string>().rfind(
                "not within the next 24 hours", 0),
            0u)
      << always;
  // With a 10-minute window due for 10 minutes of every 20: allowed from
  // the minute the job starts.
  const nlohmann::json sometimes =
      RunJson(L"query --json --window 10 " + Sample(L"job-pending.json"));
  std::string start;
  for (const auto& reason : sometimes["reasons"]) {
    if (reason["kind"] == "dueJob") start = reason["start"];
  }
  if (sometimes["exitCode"] == 3) {
    EXPECT_EQ(sometimes["nextAllowed"], start) << sometimes;
  } else {
    EXPECT_EQ(sometimes["nextAllowedReason"].get<std::string>().rfind("now", 0),
              0u)
        << sometimes;
  }
  const nlohmann::json running =
      RunJson(L"query --json " + Sample(L"task-sequence-running.json"));
  EXPECT_TRUE(running["nextAllowed"].is_null());
  EXPECT_EQ(running["nextAllowedReason"],
            "when that request ends (ContentID TRN00077)");
}

// An ISO 8601 time with its offset as seconds since 1970 (UTC), and the
// offset as written; -1 when it is no such time.
__time64_t IsoSeconds(const std::string& text, std::string* offset = nullptr) {
  int year, month, day, hour, minute, second, offsetHours, offsetMinutes;
  char sign;
  if (sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%2d:%2d", &year, &month,
             &day, &hour, &minute, &second, &sign, &offsetHours,
             &offsetMinutes) != 9 ||
      (sign != '+' && sign != '-'))
    return -1;
  if (offset) *offset = text.substr(19);
  tm fields{};
  fields.tm_year = year - 1900;
  fields.tm_mon = month - 1;
  fields.tm_mday = day;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = second;
  const __time64_t local = _mkgmtime64(&fields);
  const int shift = (offsetHours * 60 + offsetMinutes) * 60;
  return sign == '+' ? local - shift : local + shift;
}

// "+11:00": the system zone's offset at `time`, from the system's own
// conversion.
std::string SystemOffset(__time64_t time) {
  ULARGE_INTEGER ticks;
  ticks.QuadPart = (time + 11644473600LL) * 10000000ULL;
  const FILETIME utc{ticks.LowPart, ticks.HighPart};
  SYSTEMTIME utcFields, localFields;
  ::FileTimeToSystemTime(&utc, &utcFields);
  ::SystemTimeToTzSpecificLocalTime(nullptr, &utcFields, &localFields);
  FILETIME local;
  ::SystemTimeToFileTime(&localFields, &local);
  ULARGE_INTEGER localTicks;
  localTicks.LowPart = local.dwLowDateTime;
  localTicks.HighPart = local.dwHighDateTime;
  const long long minutes = (static_cast<long long>(localTicks.QuadPart) -
                             static_cast<long long>(ticks.QuadPart)) /
                            600000000LL;
  char text[8];
  snprintf(text, sizeof(text), "%c%02lld:%02lld", minutes < 0 ? '-' : '+',
           std::llabs(minutes) / 60, std::llabs(minutes) % 60);
  return text;
}

// vplhost's times, run again under a zone east of UTC in its daylight
// saving time (VplCMgrDllTests_Sydney): the offsets are the system's, the
// minutes ahead count a part minute as one, and a start at the horizon's end
// is within it. "2026-03-10 12:00" once, local time: 018A3E0000080000.
TEST(VplHostTimes, OffsetsMinutesAndHorizon) {
  const TempFile once(L"once.json",
                      R"({"namespaces": {"root\\ccm": {"CCM_Client": {}},
          "root\\ccm\\Policy\\Machine\\ActualConfig": {"CCM_Scheduler_ScheduledMessage": {
            "ScheduledMessageID": "TRN20009-TRN00090-Install",
            "Triggers": ["SMSSchedule=018A3E0000080000"]}}}})");
  const std::wstring scenario = L" --scenario \"" + once.Path() + L"\"";
  // clang-format off
  const struct { const wchar_t* at; const wchar_t* hours; long long minutes; const char* place; } cases[] = {
      {L"2026-03-10 11:29:30", L"1", 31, "within the horizon"},
      {L"2026-03-10 11:29", L"1", 31, "within the horizon"},
      {L"2026-03-09 12:00", L"24", 1440, "within the horizon"},
      {L"2026-03-09 11:59", L"24", 1441, "beyond the horizon"},
  };
  // clang-format on
  for (const auto& c : cases) {
    const nlohmann::json listing =
        RunJson(L"jobs --json --at \"" + std::wstring(c.at) + L"\" --hours " +
                c.hours + scenario);
    ASSERT_EQ(listing["jobs"].size(), 1u) << listing;
    const auto& trigger = listing["jobs"][0]["triggers"][0];
    EXPECT_EQ(trigger["minutesFromNow"], c.minutes) << listing;
    EXPECT_EQ(trigger["place"], c.place) << listing;
    std::string offset;
    const __time64_t next = IsoSeconds(trigger["next"], &offset);
    EXPECT_EQ(offset, SystemOffset(next)) << listing;
    EXPECT_EQ(trigger["next"].get<std::string>().substr(0, 19),
              "2026-03-10T12:00:00");
    const __time64_t now = IsoSeconds(listing["now"], &offset);
    EXPECT_EQ(offset, SystemOffset(now)) << listing;
    EXPECT_EQ((next - now + 59) / 60, c.minutes) << listing;
  }
  // Now, and a due job's start, as query tells them.
  const nlohmann::json query =
      RunJson(L"query --json " + Sample(L"job-pending-window.json"));
  for (const auto& reason : query["reasons"]) {
    if (reason["kind"] != "dueJob") continue;
    std::string offset;
    const __time64_t start = IsoSeconds(reason["start"], &offset);
    EXPECT_EQ(offset, SystemOffset(start)) << reason;
  }
  std::string offset;
  const __time64_t allowed = IsoSeconds(
      RunJson(L"query --json " + Sample(L"default.json"))["nextAllowed"],
      &offset);
  EXPECT_EQ(offset, SystemOffset(allowed));
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
