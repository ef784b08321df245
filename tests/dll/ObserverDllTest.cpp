// The pending-jobs observer through the real DLL: registered by Initialize,
// asked by a host that loaded its settings, against a simulated client.
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
using ::testing::ElementsAre;
using vpltest::FakeHost;
using vpltest::LogCapture;
using vpltest::PluginDll;
using vpltest::SimulatedClient;

constexpr char kSettings[] = "Software\\Tarn\\Vesperline";
constexpr int kRegisterObserverSlot = 5;

// Every scenario is a desktop, so the DLL's one chassis answer is the same
// whichever test asks first.
std::string Desktop(const std::string& namespaces) {
  return R"({"namespaces": {"root\\cimv2": {"Win32_SystemEnclosure":
      {"ChassisTypes": [3]}})" +
         namespaces + "}}";
}
const std::string kClient =
    R"(, "root\\ccm": {"CCM_Client": {"ClientId": "1"}})";
const std::string kRunningDeployment =
    Desktop(kClient + R"(, "root\\ccm\\SoftMgmtAgent": {
        "CCM_ExecutionRequestEx": {"ContentID": "C1", "AdvertID": "A1",
        "State": "Running", "RunningState": "Running"}})");
const std::string kInstallingUpdate =
    Desktop(kClient + R"(, "root\\ccm\\SoftMgmtAgent": {
        "CCM_ExecutionRequestEx": []},
        "root\\ccm\\SoftwareUpdates\\DeploymentAgent": {
        "CCM_TargetedUpdateEx1": {"UpdateId": "U1", "UpdateState": 0,
        "UpdateStatus": 9}})");
const std::string kIdle = Desktop(kClient + R"(, "root\\ccm\\SoftMgmtAgent": {
        "CCM_ExecutionRequestEx": []},
        "root\\ccm\\SoftwareUpdates\\DeploymentAgent": {
        "CCM_TargetedUpdateEx1": []})");
const std::string kNoClient = Desktop("");

class ObserverDllTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(nullptr, PluginDll::Get().Handle());
    LogCapture::Clear();
  }
  void TearDown() override {
    host_.ReleaseHeld();
    EXPECT_TRUE(host_.OnlyTestReferencesRemain());
    EXPECT_EQ(S_OK, PluginDll::Get().CanUnloadNow());
    EXPECT_EQ(SimulatedClient::LiveObjects(), 0);
  }

  ComPtr<IVesperlinePlugin> CreatePlugin() {
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(S_OK, PluginDll::Get().GetClassObject(
                        CLSID_ConfigMgrPlugin, IID_IClassFactory,
                        reinterpret_cast<void**>(factory.GetAddressOf())));
    ComPtr<IVesperlinePlugin> plugin;
    EXPECT_EQ(S_OK, factory->CreateInstance(
                        nullptr, IID_IVesperlinePlugin,
                        reinterpret_cast<void**>(plugin.GetAddressOf())));
    return plugin;
  }

  vpltest::ScratchLocalMachine registry_;
  FakeHost host_;
};

TEST_F(ObserverDllTest, InitializeRegistersTheObserverWithTheHost) {
  ComPtr<IVesperlinePlugin> plugin = CreatePlugin();
  ASSERT_EQ(S_OK, plugin->Initialize(host_.serviceProvider.Get()));
  EXPECT_EQ(1, host_.powerDownProvider->CallCount(kRegisterObserverSlot));
  ASSERT_EQ(1u, host_.powerDownProvider->Observers().size());
  BSTR name = nullptr;
  EXPECT_EQ(S_OK,
            host_.powerDownProvider->Observers()[0]->GetObserverName(&name));
  EXPECT_STREQ(L"Pending (or) running jobs power down observer", name);
  SysFreeString(name);
  EXPECT_EQ(S_OK, plugin->Uninitialize());
  plugin.Reset();
  // The host still holds the observer.
  EXPECT_EQ(S_FALSE, PluginDll::Get().CanUnloadNow());
}

TEST_F(ObserverDllTest, FailedRegistrationIsLogged) {
  host_.powerDownProvider->SetResult(kRegisterObserverSlot, E_ACCESSDENIED);
  ComPtr<IVesperlinePlugin> plugin = CreatePlugin();
  EXPECT_EQ(E_ACCESSDENIED, plugin->Initialize(host_.serviceProvider.Get()));
  EXPECT_THAT(LogCapture::Messages(),
              ElementsAre("[T]: Failed to register the CM\\SMS pending jobs "
                          "power down observer; bailing...\n"));
}

TEST_F(ObserverDllTest, HostThatLoadedItsSettingsGetsTheDecision) {
  const struct {
    const char* name;
    const std::string& scenario;
    PowerDownResponse response;
    const wchar_t* reason;
  } cases[] = {
      {"running deployment", kRunningDeployment, PowerDownResponse_Objection,
       L"SMS\\CMgr jobs in progress"},
      {"installing update", kInstallingUpdate, PowerDownResponse_Objection,
       L"SMS\\CMgr jobs in progress"},
      {"idle client", kIdle, PowerDownResponse_NoObjection, nullptr},
      {"no client", kNoClient, PowerDownResponse_NoObjection, nullptr},
  };
  registry_.SetString(kSettings, "MonitorJobs", "ON");
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    FakeHost host;
    {
      SimulatedClient sim(test.scenario);
      ComPtr<IVesperlinePlugin> plugin = CreatePlugin();
      ASSERT_EQ(S_OK, plugin->Initialize(host.serviceProvider.Get()));
      ComPtr<IPowerDownObserver> observer =
          host.powerDownProvider->Observers().at(0);
      EXPECT_EQ(S_OK, observer->LoadSettings(0));
      PowerDownResponse response = static_cast<PowerDownResponse>(7);
      BSTR reason = nullptr;
      EXPECT_EQ(S_OK, observer->QueryPowerDown(host.serviceProvider.Get(),
                                               &response, &reason));
      EXPECT_EQ(test.response, response);
      if (test.reason) {
        EXPECT_STREQ(test.reason, reason);
      } else {
        EXPECT_EQ(nullptr, reason);
      }
      SysFreeString(reason);
      EXPECT_EQ(S_OK, plugin->Uninitialize());
    }
    host.ReleaseHeld();
    EXPECT_TRUE(host.OnlyTestReferencesRemain());
    EXPECT_EQ(S_OK, PluginDll::Get().CanUnloadNow());
  }
}

}  // namespace
