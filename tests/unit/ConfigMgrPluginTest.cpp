#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <wrl/client.h>

#include "plugin/ConfigMgrPlugin.h"
#include "tests/support/HostDoubles.h"
#include "tests/support/LogCapture.h"

namespace {

using Microsoft::WRL::ComPtr;
using ::testing::ElementsAre;
using vpltest::FakeHost;
using vpltest::LogCapture;

constexpr char kNoProviderLine[] =
    "[T]: Power down provider has not been registered with the service "
    "provider; bailing...\n";
constexpr char kNoBrokerLine[] =
    "[T]: Failed to query for event broker whilst initializing the CM\\SMS "
    "plugin.\n";

class ConfigMgrPluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LogCapture::Clear();
    ASSERT_EQ(S_OK, CConfigMgrPlugin::CreateInstance(
                        nullptr, IID_IVesperlinePlugin,
                        reinterpret_cast<void**>(plugin_.GetAddressOf())));
  }

  void TearDown() override {
    plugin_.Reset();
    host_.ReleaseHeld();
    EXPECT_TRUE(host_.OnlyTestReferencesRemain());
    EXPECT_EQ(0, Module().GetLockCount());
  }

  FakeHost host_{FakeHost::Offers::NoServices};
  ComPtr<IVesperlinePlugin> plugin_;
};

TEST_F(ConfigMgrPluginTest, MissingPowerDownProviderStopsAtFirstStep) {
  host_.serviceProvider->Fail(SID_PowerDownProvider, E_NOINTERFACE);
  host_.serviceProvider->Offer(SID_EventBroker, host_.eventBroker.Get());

  EXPECT_EQ(E_NOINTERFACE, plugin_->Initialize(host_.serviceProvider.Get()));
  EXPECT_THAT(LogCapture::Messages(), ElementsAre(kNoProviderLine));
  // The event broker is never asked for.
  const auto queried = host_.serviceProvider->QueriedServices();
  ASSERT_EQ(1u, queried.size());
  EXPECT_EQ(SID_PowerDownProvider, queried[0]);
}

TEST_F(ConfigMgrPluginTest, MissingEventBrokerKeepsTheProvider) {
  host_.serviceProvider->Offer(SID_PowerDownProvider,
                               host_.powerDownProvider.Get());
  host_.serviceProvider->Fail(SID_EventBroker, E_FAIL);
  const LONG providerRefs = host_.powerDownProvider->RefCount();

  EXPECT_EQ(E_FAIL, plugin_->Initialize(host_.serviceProvider.Get()));
  EXPECT_THAT(LogCapture::Messages(), ElementsAre(kNoBrokerLine));
  // Not undone: the provider stays with the object until it is destroyed.
  EXPECT_EQ(providerRefs + 1, host_.powerDownProvider->RefCount());
  plugin_.Reset();
  EXPECT_EQ(providerRefs, host_.powerDownProvider->RefCount());
}

TEST_F(ConfigMgrPluginTest, InitializeSubscribesBothHandlersGivesBrokerBack) {
  host_ = FakeHost();
  const LONG providerRefs = host_.powerDownProvider->RefCount();
  const LONG brokerRefs = host_.eventBroker->RefCount();

  EXPECT_EQ(S_OK, plugin_->Initialize(host_.serviceProvider.Get()));
  EXPECT_TRUE(LogCapture::Messages().empty());
  EXPECT_EQ(1, host_.eventBroker->SubscriptionCount(EVENTID_Autoshutdown));
  EXPECT_EQ(1, host_.eventBroker->SubscriptionCount(EVENTID_PowerStateChange));
  // The plug-in's reference and the auto-shutdown thread's.
  EXPECT_EQ(providerRefs + 2, host_.powerDownProvider->RefCount());
  EXPECT_EQ(brokerRefs, host_.eventBroker->RefCount());
  EXPECT_EQ(1, host_.serviceProvider->RefCount());
}

TEST_F(ConfigMgrPluginTest, HandlerThatCannotAttachFailsInitialize) {
  host_ = FakeHost();
  host_.serviceProvider->Fail(SID_TimeSinceLastInputProvider, E_NOINTERFACE);

  EXPECT_EQ(E_NOINTERFACE, plugin_->Initialize(host_.serviceProvider.Get()));
  EXPECT_THAT(LogCapture::Messages(),
              ElementsAre("[T]: Time since last user input provider has not "
                          "been registered with the service provider; "
                          "bailing...\n"));
  EXPECT_EQ(0, host_.eventBroker->SubscriptionCount(EVENTID_Autoshutdown));
}

TEST_F(ConfigMgrPluginTest, UninitializeReleasesNothing) {
  host_ = FakeHost();
  ASSERT_EQ(S_OK, plugin_->Initialize(host_.serviceProvider.Get()));
  const LONG providerRefs = host_.powerDownProvider->RefCount();

  EXPECT_EQ(S_OK, plugin_->Uninitialize());
  EXPECT_EQ(providerRefs, host_.powerDownProvider->RefCount());
  // The references go with the object's last reference.
  plugin_.Reset();
  EXPECT_EQ(providerRefs - 1, host_.powerDownProvider->RefCount());
}

TEST_F(ConfigMgrPluginTest, NullServiceProviderIsRejected) {
  EXPECT_EQ(E_POINTER, plugin_->Initialize(nullptr));
}

TEST_F(ConfigMgrPluginTest, DetailsNameThePluginAndItsVersion) {
  BSTR name = nullptr;
  BSTR version = nullptr;
  ASSERT_EQ(S_OK, plugin_->GetPluginDetails(&name, &version));
  EXPECT_STREQ(L"Vesperline Microsoft ConfigMgr\\SMS Plugin", name);
  EXPECT_STREQ(L"6.0.500.167 r134132 (x64)", version);
  EXPECT_EQ(41u, SysStringLen(name));
  SysFreeString(name);
  SysFreeString(version);
}

TEST_F(ConfigMgrPluginTest, DetailsRejectNullOutParameters) {
  BSTR text = nullptr;
  EXPECT_EQ(E_POINTER, plugin_->GetPluginDetails(nullptr, &text));
  EXPECT_EQ(nullptr, text);
  EXPECT_EQ(E_POINTER, plugin_->GetPluginDetails(&text, nullptr));
  EXPECT_EQ(nullptr, text);
}

}  // namespace
