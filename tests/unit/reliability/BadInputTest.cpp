// Input no one should write, of every kind the plug-in or its simulated
// client reads: scenario data, registry settings and schedule texts. Each is
// refused or read as documented, never a crash or a hang.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <wrl/client.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "autopowerdown/AutoPowerdownRequest.h"
#include "common/HResultException.h"
#include "common/Logging.h"
#include "common/ScopedBstr.h"
#include "jobs/Schedule.h"
#include "observer/PendingJobsPowerDownObserver.h"
#include "tests/support/DebugFlagsScope.h"
#include "tests/support/EventLogCapture.h"
#include "tests/support/HostDoubles.h"
#include "tests/support/ScratchLocalMachine.h"
#include "tests/support/SimClientFixture.h"
#include "tests/support/SystemCapabilitiesScope.h"
#include "tests/support/TestRegistryKey.h"
#include "tests/support/TokenText.h"

namespace {

using Microsoft::WRL::ComPtr;
using Json = nlohmann::json;
using vpltest::LogCapture;

class BadInputTest : public vpltest::SimClientFixture {
 protected:
  // An observer after LoadSettings(0) of whatever the registry holds.
  static ComPtr<IPowerDownObserver> Observer() {
    NTarn::ComObject<PendingJobsPowerDownObserver>* created = nullptr;
    EXPECT_EQ(S_OK,
              NTarn::ComObject<PendingJobsPowerDownObserver>::CreateInstance(
                  &created));
    const ComPtr<IPowerDownObserver> observer = created;
    EXPECT_EQ(S_OK, observer->LoadSettings(0));
    return observer;
  }
  // One question; the response, after checking the call went through.
  PowerDownResponse Ask(IPowerDownObserver* observer) {
    PowerDownResponse response = static_cast<PowerDownResponse>(7);
    NTarn::ScopedBstr reason;
    EXPECT_EQ(S_OK, observer->QueryPowerDown(host_.Get(), &response,
                                             reason.Receive()));
    EXPECT_EQ(response == PowerDownResponse_Objection, reason.Get() != nullptr);
    return response;
  }

  vpltest::ScratchLocalMachine registry_;
  vpltest::TestRegistryKey settings_{"Software\\Tarn\\Vesperline"};
  vpltest::DebugFlagsScope flags_{0};
  vpltest::EventLogCapture events_;
  vpltest::SystemCapabilitiesScope desktop_{
      false, vpltest::SystemCapabilitiesScope::Power::kAcWithBattery};
  ComPtr<vpltest::FakeServiceProvider> host_ =
      vpltest::MakeFake<vpltest::FakeServiceProvider>();
};

// Every value of a busy scenario replaced by each kind of JSON value, every
// cut of its text, seeded byte changes, deep nesting and many objects: the
// simulated client refuses the text with a ScenarioError or serves it, and a
// question against what it serves goes through.
TEST_F(BadInputTest, ScenarioData) {
  settings_.SetString("MonitorJobs", "ON");
  // clang-format off
  const Json busy = Json::parse(R"({"namespaces": {"root\\ccm": {"CCM_Client": {"ClientId": "GUID:1"}},
      "root\\ccm\\SoftMgmtAgent": {"CCM_ExecutionRequestEx": [{"ContentID": "C", "AdvertID": "A", "State": "Running",
          "RunningState": "Running"}]},
      "root\\ccm\\SoftwareUpdates\\DeploymentAgent": {"CCM_TargetedUpdateEx1": {"UpdateId": "U", "UpdateState": 0,
          "UpdateStatus": {"cimType": "uint32", "value": 7}}},
      "root\\ccm\\Policy\\Machine\\ActualConfig": {"CCM_Scheduler_ScheduledMessage": [{"ScheduledMessageID": "A1-P-R",
          "TriggerMessage": "", "Triggers": ["SMSSchedule=00A4A8C000100008"]}], "CCM_SoftwareDistribution":
          {"ADV_AdvertisementID": "A1", "ADV_ExpirationTime": "/Date(0)/", "PRG_PRF_Disabled": false}}},
      "absentNamespaces": ["root\\cimv2"], "registry": {"Software\\X": {"V": 1}}, "policy": {"MonitorJobs": "ON"},
      "host": {"idleMilliseconds": 1, "portable": false}})");
  const Json kinds[] = {nullptr, true, -1, 4294967296.5, "", std::string(65536, 'x'), Json::array(),
                        Json::array({1, "x", nullptr}), Json::object(), Json{{"cimType", "bogus"}, {"value", 1}},
                        Json{{"cimType", "uint8"}, {"value", "x"}}, Json{{"cimType", "string[]"}, {"value", 5}}};
  // clang-format on
  std::vector<std::string> texts;
  const Json leaves = busy.flatten();
  for (const auto& leaf : leaves.items()) {
    for (const Json& kind : kinds) {
      Json changed = busy;
      changed[Json::json_pointer(leaf.key())] = kind;
      texts.push_back(changed.dump());
    }
  }
  const std::string text = busy.dump();
  for (size_t cut = 1; cut < text.size(); cut += 3)
    texts.push_back(text.substr(0, cut));
  std::mt19937 random(15);
  for (int i = 0; i < 300; ++i) {
    texts.push_back(text);
    for (int n = 0; n < 3; ++n)
      texts.back()[random() % text.size()] = static_cast<char>(random() % 128);
  }
  // A hundred thousand deep, as a whole section and as one value.
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  texts.push_back(R"({"namespaces": )" + deep + "}");
  texts.push_back(R"({"namespaces": {"root\\ccm": {"C": {"P": )" + deep +
                  "}}}}");
  std::string many = R"({"namespaces": {"root\\ccm": {"CCM_Client": [{})";
  for (int i = 0; i < 1000; ++i) many += R"(, {"ClientId": 1})";
  texts.push_back(many + "]}}}");
  int served = 0;
  for (const std::string& scenario : texts) {
    SCOPED_TRACE(scenario.substr(0, 300));
    try {
      Load(scenario);
    } catch (const vpltest::ScenarioError&) {
      continue;
    }
    ++served;
    Ask(Observer().Get());
    Unload();
    EXPECT_EQ(vpltest::SimulatedClient::LiveObjects(), 0);
  }
  EXPECT_GT(served, 0);
}

// Every setting stored with each wrong type or size after good values
// (monitoring on, 30 minutes, debug 0x10): a text read for writing keeps its
// text and is rewritten as text when the type is foreign; a read-only text
// takes only text, a read-only number only a number or digits; an oversize
// value is not read; read-only values stay as stored. A power-down request
// then carries what the countdown and message became; a broken logoff action
// sends none.
TEST_F(BadInputTest, RegistrySettings) {
  Load(R"({"namespaces": {"root\\ccm": {"CCM_Client": {}}}})");
  const std::string big(65536, '4');
  const char number[] = "\x2d\0\0", multi[] = "45\0\0";
  // clang-format off
  const struct { const char* name; DWORD type; std::string data; const char* monitor; const wchar_t* message; int window; DWORD storedType; } cases[] = {
      {"number", REG_DWORD, std::string(number, 4), "ON", L"", 45, REG_SZ},
      {"digits", REG_SZ, "45", "45", L"45", 45, REG_SZ},
      {"empty text", REG_SZ, std::string("", 1), "", L"", 0, REG_SZ},
      {"64 KB text", REG_SZ, big + '\0', "ON", L"", 30, REG_SZ},
      {"binary", REG_BINARY, std::string(number, 4), "ON", L"", 30, REG_SZ},
      {"empty binary", REG_BINARY, "", "ON", L"", 30, REG_SZ},
      {"64 KB binary", REG_BINARY, big, "ON", L"", 30, REG_BINARY},
      {"multi-string", REG_MULTI_SZ, std::string(multi, sizeof(multi)), "ON", L"", 30, REG_SZ},
      {"expandable", REG_EXPAND_SZ, std::string("45", 3), "ON", L"", 30, REG_SZ},
      {"quad word", REG_QWORD, std::string(8, '\1'), "ON", L"", 30, REG_SZ},
  };
  const char* const names[] = {"MonitorJobs", "PendingSMSJobWindowMins", "debug", "AllowedShutdownJobStates",
                               "AllowedShutdownUpdateStates", "RetryAttempts", "RetryInterval", "CountdownSecs",
                               "ShutdownMsg"};
  // clang-format on
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    settings_.SetString("MonitorJobs", "ON");
    settings_.SetDword("PendingSMSJobWindowMins", 30);
    settings_.SetDword("debug", 0x10);
    ComPtr<IPowerDownObserver> observer = Observer();
    for (const char* name : names) {
      settings_.SetRaw(name, test.type, test.data.data(),
                       static_cast<DWORD>(test.data.size()));
    }
    EXPECT_EQ(S_OK, observer->LoadSettings(0));
    // The debug word is read like the window, from its last value 0x10.
    EXPECT_EQ(NTarn::DebugFlags.load(),
              test.window == 30 ? 0x10u : static_cast<uint32_t>(test.window));
    NTarn::DebugFlags = 0x10;
    LogCapture::Clear();
    EXPECT_EQ(S_OK, observer->LogStatus());
    EXPECT_TRUE(LogCapture::Contains(std::string("Monitor Job = ") +
                                     test.monitor + ".\n"));
    EXPECT_TRUE(LogCapture::Contains(
        "Pending Job Window Minutes. = " + std::to_string(test.window) + "\n"));
    EXPECT_EQ(settings_.TypeOf("MonitorJobs"), test.storedType);
    EXPECT_EQ(settings_.TypeOf("PendingSMSJobWindowMins"), test.type);
    EXPECT_EQ(settings_.TypeOf("AllowedShutdownJobStates"), test.type);
    // The question copes with whatever the lists hold.
    EXPECT_EQ(Ask(observer.Get()), PowerDownResponse_NoObjection);
    EXPECT_EQ(0u, observer.Reset());
    for (const bool brokenAction : {false, true}) {
      settings_.SetString("LogOffAction", "FORCE");
      if (brokenAction)
        settings_.SetRaw("LogOffAction", test.type, test.data.data(),
                         static_cast<DWORD>(test.data.size()));
      auto provider = vpltest::MakeFake<vpltest::FakePowerDownProvider>();
      NTarn::ComObject<AutoPowerdownRequest>* request = nullptr;
      ASSERT_EQ(S_OK, NTarn::ComObject<AutoPowerdownRequest>::CreateInstance(
                          &request, 600000000ULL));
      ComPtr<AutoPowerdownRequest> owner = request;
      request->IssueRequest(provider.Get(), 1);
      auto requested = provider->RequestedContexts();
      ASSERT_EQ(brokenAction ? 0u : 1u, requested.size());
      int countdown = -1;
      NTarn::ScopedBstr message;
      if (!brokenAction) {
        requested[0]->GetCountdownSecs(&countdown);
        requested[0]->GetMessage(message.Receive());
        EXPECT_EQ(countdown, test.window == 30 ? 0 : test.window);
        EXPECT_STREQ(message.Get() ? message.Get() : L"", test.message);
      }
      request->ReleaseContext();
      requested.clear();
      provider->ReleaseHeld();
      EXPECT_EQ(0u, owner.Reset());
    }
  }
}

// Seeded random schedule texts: mutated valid tokens and noise of random
// length and characters. A text of hexadecimal digits decodes exactly when
// each whole token has a minute, hour, month and recurrence type in range; a
// failed text leaves the schedule empty; occurrences found lie on the right
// side of the reference.
TEST(BadScheduleTextTest, RandomTexts) {
  vpltest::DebugFlagsScope flags(0);
  std::mt19937 random(15);
  const std::wstring hex = L"0123456789ABCDEFabcdef";
  const std::wstring noise = hex + L"GgXx -;=\t\u00e9\uffff\u4e2d";
  const __time64_t reference = 1773136800;  // 2026-03-10
  for (int i = 0; i < 10000; ++i) {
    std::wstring text;
    if (i % 2 == 0) {
      vpltest::TokenFields f;
      f.year = 1970 + random() % 64, f.month = 1 + random() % 12;
      f.day = random() % 32, f.hour = random() % 24, f.minute = random() % 60;
      f.type = 1 + random() % 5, f.interval_minutes = random() % 60;
      f.weekday = 1 + random() % 7, f.weeks = random() % 8;
      f.months = random() % 16, f.month_day = random() % 32;
      for (int n = 1 + random() % 3; n > 0; --n) text += vpltest::TokenText(f);
      for (int n = random() % 3; n > 0; --n)
        text[random() % text.size()] = hex[random() % hex.size()];
      if (random() % 4 == 0) text.resize(random() % (text.size() + 1));
    } else {
      const std::wstring& chars = random() % 2 ? hex : noise;
      for (int n = random() % 70; n > 0; --n)
        text += chars[random() % chars.size()];
    }
    SCOPED_TRACE(std::string(text.begin(), text.end()));
    const bool allHex = text.find_first_not_of(hex) == std::wstring::npos;
    bool valid = true;
    for (size_t at = 0; at + 16 <= text.size() && allHex; at += 16) {
      const uint64_t bits = std::stoull(text.substr(at, 16), nullptr, 16);
      const uint32_t high = static_cast<uint32_t>(bits >> 32);
      const uint32_t type = (static_cast<uint32_t>(bits) >> 19) & 7;
      valid = valid && (high >> 26) <= 59 && ((high >> 21) & 31) <= 23 &&
              ((high >> 12) & 15) >= 1 && ((high >> 12) & 15) <= 12 &&
              type >= 1 && type <= 6;
    }
    CSchedule schedule;
    const bool parsed = schedule.Parse(text.c_str());
    EXPECT_TRUE(!allHex || parsed == valid);
    EXPECT_EQ(schedule.tokens().size(), parsed ? text.size() / 16 : 0u);
    __time64_t next = -1, end = -1, last = -1;
    try {
      const bool found =
          schedule.GetOccurrences(&next, &end, &reference, &last);
      EXPECT_TRUE(!found || next >= reference) << next;
    } catch (const NTarn::HResultException&) {
      // Calendar fields no date has: raised for the caller to catch.
    }
    EXPECT_LE(last, reference);
  }
}

}  // namespace
