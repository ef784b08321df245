// The pending-jobs observer through the real DLL: registered by Initialize
// and asked by a host that loaded its settings.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <wrl/client.h>

#include <algorithm>
#include <ctime>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "common/ScopedBstr.h"
#include "common/ScopedHandle.h"
#include "tests/dll/PluginDll.h"
#include "tests/simclient/SimulatedClient.h"
#include "tests/support/HostDoubles.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ScratchLocalMachine.h"
#include "tests/support/TestRegistryKey.h"
#include "tests/support/TokenText.h"

namespace {

using Microsoft::WRL::ComPtr;
using vpltest::PluginDll;

// A desktop (the DLL decides its chassis once) whose client is running
// `requests` and holds `policy` (classes of the machine's actual config).
std::string Desktop(const std::string& requests,
                    const std::string& policy = "") {
  return R"({"namespaces": {
      "root\\cimv2": {"Win32_SystemEnclosure": {"ChassisTypes": [3]}},
      "root\\ccm": {"CCM_Client": {}},
      "root\\ccm\\Policy\\Machine\\ActualConfig": {)" +
         policy + R"(},
      "root\\ccm\\SoftMgmtAgent": {"CCM_ExecutionRequestEx": [)" +
         requests + "]}}}";
}

// The DLL reads the real clock: times are local fields `minutes` from now.
tm In(int minutes) {
  tm fields{};
  const __time64_t time = _time64(nullptr) + minutes * 60;
  _localtime64_s(&fields, &time);
  return fields;
}
// Expiry digits as the client writes them: local clock time.
std::string ExpiryIn(int minutes) {
  char text[64];
  const tm expiry = In(minutes);
  strftime(text, sizeof(text), "\"%Y%m%d%H%M%S.000000+000\"", &expiry);
  return text;
}
// A job of advertisement A1 due `minutes` from now (whole minutes, so a little
// earlier), with its advertisement policy.
std::string JobDueIn(int minutes, const std::string& expiry, bool disabled) {
  const tm due = In(minutes);
  const std::wstring text = vpltest::TokenText(
      vpltest::TokenStart(due.tm_year + 1900, due.tm_mon + 1, due.tm_mday,
                          due.tm_hour, due.tm_min, 1));
  // clang-format off
  return R"("CCM_Scheduler_ScheduledMessage": [{"ScheduledMessageID": "A1-P1-R1", "TriggerMessage": "",
      "Triggers": ["SMSSchedule=)" + std::string(text.begin(), text.end()) + R"("]}],
      "CCM_SoftwareDistribution": [{"ADV_AdvertisementID": "A1", "ADV_ExpirationTime": )" + expiry +
      R"(, "PRG_PRF_Disabled": )" + (disabled ? "true" : "false") + "}]";
  // clang-format on
}

// Two jobs of advertisements A2 and A1, the first due in 40 minutes, the
// second in 20.
std::string TwoJobs() {
  auto token = [](int minutes) {
    const tm due = In(minutes);
    const std::wstring text = vpltest::TokenText(
        vpltest::TokenStart(due.tm_year + 1900, due.tm_mon + 1, due.tm_mday,
                            due.tm_hour, due.tm_min, 1));
    return std::string(text.begin(), text.end());
  };
  return R"("CCM_Scheduler_ScheduledMessage": [
      {"ScheduledMessageID": "A2-P2-R2", "TriggerMessage": "", "Triggers": ["SMSSchedule=)" +
         token(40) + R"("]},
      {"ScheduledMessageID": "A1-P1-R1", "TriggerMessage": "", "Triggers": ["SMSSchedule=)" +
         token(20) + R"("]}],
      "CCM_SoftwareDistribution": [{"ADV_AdvertisementID": "A1", "ADV_ExpirationTime": null, "PRG_PRF_Disabled": false},
                                   {"ADV_AdvertisementID": "A2", "ADV_ExpirationTime": null, "PRG_PRF_Disabled": false}])";
}

constexpr char kSettings[] = "Software\\Tarn\\Vesperline";
constexpr char kDecisions[] = "Software\\Tarn\\Vesperline\\Decisions";

// The decision record as the registry holds it, oldest first, one line per
// entry: "<Question>|<Answer>|<Ground>|<item values>|window <N>|count <N>".
// An entry without both times in ISO 8601 UTC is marked "not whole".
std::vector<std::string> RecordedEntries() {
  NTarn::ScopedRegKey decisions;
  std::vector<std::string> names, entries;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDecisions, 0, KEY_READ,
                      decisions.Receive()) != ERROR_SUCCESS) {
    return entries;
  }
  char name[256];
  for (DWORD i = 0, size = sizeof(name);
       ::RegEnumKeyExA(decisions.Get(), i, name, &size, nullptr, nullptr,
                       nullptr, nullptr) == ERROR_SUCCESS;
       ++i, size = sizeof(name)) {
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  auto text = [&](const std::string& key, const char* value) {
    char data[256] = "";
    DWORD size = sizeof(data);
    ::RegGetValueA(decisions.Get(), key.c_str(), value, RRF_RT_REG_SZ, nullptr,
                   data, &size);
    return std::string(data);
  };
  auto number = [&](const std::string& key, const char* value) {
    DWORD data = 0, size = sizeof(data);
    return ::RegGetValueA(decisions.Get(), key.c_str(), value, RRF_RT_REG_DWORD,
                          nullptr, &data, &size) == ERROR_SUCCESS
               ? std::to_string(data)
               : std::string("-");
  };
  const std::regex iso(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)");
  for (const std::string& key : names) {
    std::string item;
    for (const char* value :
         {"ContentID", "AdvertID", "State", "UpdateID", "ScheduledMessageID"}) {
      if (!text(key, value).empty()) item += text(key, value) + ",";
    }
    if (!text(key, "NextStart").empty())
      item += std::regex_match(text(key, "NextStart"), iso) ? "next," : "bad,";
    const bool whole = std::regex_match(text(key, "FirstTime"), iso) &&
                       std::regex_match(text(key, "LastTime"), iso);
    entries.push_back(text(key, "Question") + "|" + text(key, "Answer") + "|" +
                      text(key, "Ground") + "|" + item + "|window " +
                      number(key, "PendingWindowMins") + "|count " +
                      number(key, "Count") + (whole ? "" : "|not whole"));
  }
  return entries;
}

// One question to the observer a fresh plug-in registered, after the
// host's LoadSettings: "<response> <reason>"; the host lets go afterwards,
// which writes the record.
std::string AskOnce(const std::string& scenario, bool clientFails = false,
                    int times = 1) {
  vpltest::FakeHost host;
  std::string answer;
  {
    vpltest::SimulatedClient sim(scenario);
    if (clientFails)
      sim.FailEveryCall(vpltest::SimMethod::kGetObject, WBEM_E_FAILED);
    EXPECT_EQ(S_OK, PluginDll::Get().CreatePlugin()->Initialize(
                        host.serviceProvider.Get()));
    EXPECT_EQ(1u, host.powerDownProvider->Observers().size());
    ComPtr<IPowerDownObserver> observer =
        host.powerDownProvider->Observers()[0];
    EXPECT_EQ(S_OK, observer->LoadSettings(0));
    for (int question = 0; question < times; ++question) {
      PowerDownResponse response = static_cast<PowerDownResponse>(7);
      NTarn::ScopedBstr reason;
      EXPECT_EQ(S_OK, observer->QueryPowerDown(host.serviceProvider.Get(),
                                               &response, reason.Receive()));
      const std::wstring text = reason.Get() ? reason.Get() : L"(null)";
      answer = std::to_string(response) + " " +
               std::string(text.begin(), text.end());
    }
    // The host still holds the observer.
    EXPECT_EQ(S_FALSE, PluginDll::Get().CanUnloadNow());
  }
  PluginDll::Get().ExpectReleased(host);
  EXPECT_EQ(vpltest::SimulatedClient::LiveObjects(), 0);
  return answer;
}

// A host that switched monitoring on with a window of 30 minutes asks the
// observer Initialize registered.
TEST(ObserverDllTest, HostAsksTheRegisteredObserver) {
  vpltest::ScratchLocalMachine registry;
  registry.Set(kSettings, "MonitorJobs", "ON");
  registry.Set(kSettings, "PendingSMSJobWindowMins", DWORD{30});
  registry.Set(kSettings, "StaleJobHours", DWORD{72});
  const std::string stale = R"({"ContentID": "OLD", "AdvertID": "A0",
      "State": "Running", "RunningState": "Running",
      "ReceivedTime": "2020-01-01T00:00:00"})";
  const std::string running = R"({"ContentID": "C", "AdvertID": "A",
      "State": "Running", "RunningState": "Running"})";
  const std::string kObjects = "3 SMS\\CMgr jobs in progress";
  const std::string kPending = "3 SMS\\CMgr jobs pending in 30 minutes";
  const std::string kNo = "0 (null)";
  const std::string kQuiet =
      "power-down question|no objection|nothingDue||window 30|count 1";
  // clang-format off
  const struct { const char* name; std::string scenario; bool clientFails; std::string answer, entry; } cases[] = {
      {"deployment running", Desktop(running), false, kObjects, "power-down question|objection|jobsRunning|C,A,Running,|window 30|count 1"},
      {"idle", Desktop(""), false, kNo, kQuiet},
      {"due in 20 minutes", Desktop("", JobDueIn(20, "null", false)), false, kPending, "power-down question|objection|jobsPending|A1-P1-R1,next,|window 30|count 1"},
      {"due in 40 minutes", Desktop("", JobDueIn(40, "null", false)), false, kNo, kQuiet},
      {"expired", Desktop("", JobDueIn(20, ExpiryIn(-1), false)), false, kNo, kQuiet},
      {"disabled", Desktop("", JobDueIn(20, ExpiryIn(60), true)), false, kNo, kQuiet},
      {"client fails", Desktop(running), true, kNo, "power-down question|no objection|noClient||window 30|count 1"},
      {"stale request first", Desktop(stale + "," + running), false, kObjects, "power-down question|objection|jobsRunning|C,A,Running,|window 30|count 1"},
      {"later job first", Desktop("", TwoJobs()), false, kPending, "power-down question|objection|jobsPending|A1-P1-R1,next,|window 30|count 1"},
  };
  // clang-format on
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, kDecisions);
    EXPECT_EQ(test.answer, AskOnce(test.scenario, test.clientFails));
    EXPECT_THAT(RecordedEntries(), ::testing::ElementsAre(test.entry));
  }
}

// Piloting: "REPORT" decides and logs as "ENFORCE" does, says once that the
// objection was not made, answers no objection and records "would object".
TEST(ObserverDllTest, ReportModeWithholdsTheObjection) {
  vpltest::ScratchLocalMachine registry;
  registry.Set(kSettings, "MonitorJobs", "ON");
  registry.Set(kSettings, "debug", DWORD{0x10});
  const std::string running = Desktop(R"({"ContentID": "C", "AdvertID": "A",
      "State": "Running", "RunningState": "Running"})");
  // clang-format off
  const struct { const char* name; const char* mode; std::string scenario, answer, entry; bool extraLine; } cases[] = {
      {"enforce", "ENFORCE", running, "3 SMS\\CMgr jobs in progress", "objection|jobsRunning", false},
      {"report", "report", running, "0 (null)", "would object|jobsRunning", true},
      {"report, nothing due", "REPORT", Desktop(""), "0 (null)", "no objection|nothingDue", false},
      {"unknown mode enforces", "REPORTS", running, "3 SMS\\CMgr jobs in progress", "objection|jobsRunning", false},
  };
  // clang-format on
  std::vector<std::string> enforced;
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    registry.Set("Software\\Policies\\Tarn\\Vesperline", "VetoMode", test.mode);
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, kDecisions);
    vpltest::LogCapture::Clear();
    EXPECT_EQ(test.answer, AskOnce(test.scenario));
    std::vector<std::string> lines = vpltest::LogCapture::Messages();
    if (enforced.empty()) enforced = lines;
    if (test.extraLine) {
      ASSERT_FALSE(lines.empty());
      EXPECT_EQ(
          "[T]: VetoMode is REPORT: the objection \"SMS\\CMgr jobs in "
          "progress\" was not made; answering no objection\n",
          lines.back());
      lines.pop_back();
    }
    if (test.scenario == running) {
      EXPECT_EQ(enforced, lines);
    }
    ASSERT_EQ(1u, RecordedEntries().size());
    EXPECT_NE(std::string::npos, RecordedEntries()[0].find(test.entry));
  }
}

// The host asks from 8 threads at once: identical answers coalesce into one
// entry counting every question, and alternating ones never leave more than
// 64 entries, each of them whole.
TEST(ObserverDllTest, ConcurrentQuestionsLeaveWholeEntries) {
  vpltest::ScratchLocalMachine registry;
  registry.Set(kSettings, "MonitorJobs", "OFF");
  // clang-format off
  const struct { const char* name; bool alternate; size_t entries; std::string first; } cases[] = {
      {"identical", false, 1, "power-down question|no objection|monitoringOff||window 0|count 320"},
      {"alternating", true, 64, ""},
  };
  // clang-format on
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, kDecisions);
    vpltest::FakeHost host;
    std::optional<vpltest::SimulatedClient> sim(std::in_place, Desktop(""));
    ASSERT_EQ(S_OK, PluginDll::Get().CreatePlugin()->Initialize(
                        host.serviceProvider.Get()));
    ComPtr<IPowerDownObserver> observer =
        host.powerDownProvider->Observers()[0];
    EXPECT_EQ(S_OK, observer->LoadSettings(0));
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
      threads.emplace_back([&] {
        ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        for (int i = 0; i < 40; ++i) {
          PowerDownResponse response;
          BSTR reason = nullptr;
          const bool second = test.alternate && i % 2;
          EXPECT_EQ(S_OK,
                    second
                        ? observer->QueryPowerDown2(host.serviceProvider.Get(),
                                                    &response, &reason)
                        : observer->QueryPowerDown(host.serviceProvider.Get(),
                                                   &response, &reason));
          EXPECT_EQ(PowerDownResponse_NoObjection, response);
        }
        ::CoUninitialize();
      });
    }
    for (std::thread& thread : threads) thread.join();
    observer.Reset();
    sim.reset();
    PluginDll::Get().ExpectReleased(host);
    EXPECT_EQ(vpltest::SimulatedClient::LiveObjects(), 0);
    const std::vector<std::string> entries = RecordedEntries();
    EXPECT_EQ(test.entries, entries.size());
    if (!test.first.empty()) {
      EXPECT_EQ(test.first, entries.front());
    }
    for (const std::string& entry : entries) {
      EXPECT_EQ(std::string::npos, entry.find("not whole")) << entry;
      EXPECT_EQ(std::string::npos, entry.find("count -")) << entry;
    }
  }
}

// A record key the service may not write: the answers and the plug-in's
// lines are those of a writable one, and the failure is logged once.
TEST(ObserverDllTest, DeniedRecordKeyChangesNoAnswer) {
  vpltest::ScratchLocalMachine registry;
  registry.Set(kSettings, "MonitorJobs", "ON");
  registry.Set(kSettings, "debug", DWORD{0x10});
  const std::string running = Desktop(R"({"ContentID": "C", "AdvertID": "A",
      "State": "Running", "RunningState": "Running"})");
  vpltest::LogCapture::Clear();
  EXPECT_EQ("3 SMS\\CMgr jobs in progress", AskOnce(running, false, 2));
  const std::vector<std::string> writable = vpltest::LogCapture::Messages();
  ASSERT_EQ(1u, RecordedEntries().size());
  EXPECT_NE(std::string::npos, RecordedEntries()[0].find("|count 2"));

  ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, kDecisions);
  vpltest::TestRegistryKey decisions(kDecisions);
  decisions.RestrictAccess("", 0);
  vpltest::LogCapture::Clear();
  EXPECT_EQ("3 SMS\\CMgr jobs in progress", AskOnce(running, false, 2));
  std::vector<std::string> denied = vpltest::LogCapture::Messages();
  const auto failure =
      std::find_if(denied.begin(), denied.end(), [](const std::string& line) {
        return line.rfind(
                   "[T]: Could not record the decision under "
                   "HKLM\\Software\\Tarn\\Vesperline\\Decisions: ",
                   0) == 0;
      });
  ASSERT_NE(denied.end(), failure);
  denied.erase(failure);
  EXPECT_EQ(writable, denied);
}

TEST(ObserverDllTest, FailedRegistrationIsLogged) {
  vpltest::FakeHost host;
  host.powerDownProvider->SetResult(5, E_ACCESSDENIED);
  vpltest::LogCapture::Clear();
  EXPECT_EQ(E_ACCESSDENIED, PluginDll::Get().CreatePlugin()->Initialize(
                                host.serviceProvider.Get()));
  EXPECT_THAT(vpltest::LogCapture::Messages(),
              ::testing::ElementsAre("[T]: Failed to register the CM\\SMS "
                                     "pending jobs power down observer; "
                                     "bailing...\n"));
  PluginDll::Get().ExpectReleased(host);
}

}  // namespace
