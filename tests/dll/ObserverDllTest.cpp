// The pending-jobs observer through the real DLL: registered by Initialize
// and asked by a host that loaded its settings.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <wrl/client.h>

#include <ctime>
#include <string>

#include "common/ScopedBstr.h"
#include "tests/dll/PluginDll.h"
#include "tests/simclient/SimulatedClient.h"
#include "tests/support/HostDoubles.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ScratchLocalMachine.h"
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

// A host that switched monitoring on with a window of 30 minutes asks the
// observer Initialize registered.
TEST(ObserverDllTest, HostAsksTheRegisteredObserver) {
  vpltest::ScratchLocalMachine registry;
  registry.Set("Software\\Tarn\\Vesperline", "MonitorJobs", "ON");
  registry.Set("Software\\Tarn\\Vesperline", "PendingSMSJobWindowMins",
               DWORD{30});
  const std::string running = R"({"ContentID": "C", "AdvertID": "A",
      "State": "Running", "RunningState": "Running"})";
  constexpr auto kNo = PowerDownResponse_NoObjection;
  // clang-format off
  const struct { const char* name; std::string scenario; PowerDownResponse response; const wchar_t* reason; } cases[] = {
      {"deployment running", Desktop(running), PowerDownResponse_Objection, L"SMS\\CMgr jobs in progress"},
      {"idle", Desktop(""), kNo, nullptr},
      {"due in 20 minutes", Desktop("", JobDueIn(20, "null", false)), PowerDownResponse_Objection, L"SMS\\CMgr jobs pending in 30 minutes"},
      {"due in 40 minutes", Desktop("", JobDueIn(40, "null", false)), kNo, nullptr},
      {"expired", Desktop("", JobDueIn(20, ExpiryIn(-1), false)), kNo, nullptr},
      {"disabled", Desktop("", JobDueIn(20, ExpiryIn(60), true)), kNo, nullptr},
  };
  // clang-format on
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    vpltest::FakeHost host;
    {
      vpltest::SimulatedClient sim(test.scenario);
      ASSERT_EQ(S_OK, PluginDll::Get().CreatePlugin()->Initialize(
                          host.serviceProvider.Get()));
      ASSERT_EQ(1u, host.powerDownProvider->Observers().size());
      ComPtr<IPowerDownObserver> observer =
          host.powerDownProvider->Observers()[0];
      EXPECT_EQ(S_OK, observer->LoadSettings(0));
      PowerDownResponse response = static_cast<PowerDownResponse>(7);
      NTarn::ScopedBstr reason;
      EXPECT_EQ(S_OK, observer->QueryPowerDown(host.serviceProvider.Get(),
                                               &response, reason.Receive()));
      EXPECT_EQ(test.response, response);
      EXPECT_STREQ(test.reason, reason.Get());
      // The host still holds the observer.
      EXPECT_EQ(S_FALSE, PluginDll::Get().CanUnloadNow());
    }
    PluginDll::Get().ExpectReleased(host);
    EXPECT_EQ(vpltest::SimulatedClient::LiveObjects(), 0);
  }
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
