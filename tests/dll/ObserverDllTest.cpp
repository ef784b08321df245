// The pending-jobs observer through the real DLL: registered by Initialize
// and asked by a host that loaded its settings.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <wrl/client.h>

#include <string>

#include "tests/dll/PluginDll.h"
#include "tests/simclient/SimulatedClient.h"
#include "tests/support/HostDoubles.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ScratchLocalMachine.h"

namespace {

using Microsoft::WRL::ComPtr;
using vpltest::PluginDll;

// A desktop (the DLL decides its chassis once) whose client is running
// `requests`.
std::string Desktop(const std::string& requests) {
  return R"({"namespaces": {
      "root\\cimv2": {"Win32_SystemEnclosure": {"ChassisTypes": [3]}},
      "root\\ccm": {"CCM_Client": {}},
      "root\\ccm\\SoftMgmtAgent": {"CCM_ExecutionRequestEx": [)" +
         requests + "]}}}";
}

// Initializes a plug-in against `host` and lets it go; the host keeps what it
// was given.
HRESULT InitializePlugin(vpltest::FakeHost& host) {
  ComPtr<IClassFactory> factory;
  ComPtr<IVesperlinePlugin> plugin;
  EXPECT_EQ(S_OK, PluginDll::Get().GetClassObject(CLSID_ConfigMgrPlugin,
                                                  IID_PPV_ARGS(&factory)));
  EXPECT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&plugin)));
  return plugin->Initialize(host.serviceProvider.Get());
}

TEST(ObserverDllTest, HostAsksTheRegisteredObserver) {
  vpltest::ScratchLocalMachine registry;
  registry.Set("Software\\Tarn\\Vesperline", "MonitorJobs", "ON");
  const struct {
    std::string requests;
    PowerDownResponse response;
    const wchar_t* reason;
  } cases[] = {
      {R"({"ContentID": "C", "AdvertID": "A", "State": "Running",
          "RunningState": "Running"})",
       PowerDownResponse_Objection, L"SMS\\CMgr jobs in progress"},
      {"", PowerDownResponse_NoObjection, nullptr},
  };
  for (const auto& test : cases) {
    vpltest::FakeHost host;
    {
      vpltest::SimulatedClient sim(Desktop(test.requests));
      ASSERT_EQ(S_OK, InitializePlugin(host));
      ASSERT_EQ(1u, host.powerDownProvider->Observers().size());
      ComPtr<IPowerDownObserver> observer =
          host.powerDownProvider->Observers()[0];
      EXPECT_EQ(S_OK, observer->LoadSettings(0));
      PowerDownResponse response = static_cast<PowerDownResponse>(7);
      BSTR reason = nullptr;
      EXPECT_EQ(S_OK, observer->QueryPowerDown(host.serviceProvider.Get(),
                                               &response, &reason));
      EXPECT_EQ(test.response, response);
      EXPECT_STREQ(test.reason, reason);
      SysFreeString(reason);
      // The host still holds the observer.
      EXPECT_EQ(S_FALSE, PluginDll::Get().CanUnloadNow());
    }
    host.ReleaseHeld();
    EXPECT_TRUE(host.OnlyTestReferencesRemain());
    EXPECT_EQ(S_OK, PluginDll::Get().CanUnloadNow());
    EXPECT_EQ(vpltest::SimulatedClient::LiveObjects(), 0);
  }
}

TEST(ObserverDllTest, FailedRegistrationIsLogged) {
  vpltest::FakeHost host;
  host.powerDownProvider->SetResult(5, E_ACCESSDENIED);
  vpltest::LogCapture::Clear();
  EXPECT_EQ(E_ACCESSDENIED, InitializePlugin(host));
  EXPECT_THAT(vpltest::LogCapture::Messages(),
              ::testing::ElementsAre("[T]: Failed to register the CM\\SMS "
                                     "pending jobs power down observer; "
                                     "bailing...\n"));
  host.ReleaseHeld();
  EXPECT_TRUE(host.OnlyTestReferencesRemain());
  EXPECT_EQ(S_OK, PluginDll::Get().CanUnloadNow());
}

}  // namespace
