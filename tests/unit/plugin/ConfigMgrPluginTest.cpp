#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <wrl/client.h>

#include "common/ScopedBstr.h"
#include "plugin/ConfigMgrPlugin.h"
#include "plugin/Module.h"
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
    ASSERT_EQ(S_OK, CConfigMgrPlugin::CreateInstance(nullptr,
                                                     IID_PPV_ARGS(&m_plugin)));
  }

  void TearDown() override {
    m_plugin.Reset();
    m_host.ReleaseHeld();
    EXPECT_TRUE(m_host.OnlyTestReferencesRemain());
    EXPECT_EQ(0, Module().GetLockCount());
  }

  FakeHost m_host{FakeHost::Offers::NoServices};
  ComPtr<IVesperlinePlugin> m_plugin;
};

TEST_F(ConfigMgrPluginTest, MissingPowerDownProviderStopsAtFirstStep) {
  m_host.serviceProvider->Fail(SID_PowerDownProvider, E_NOINTERFACE);
  m_host.serviceProvider->Offer(SID_EventBroker, m_host.eventBroker.Get());

  EXPECT_EQ(E_NOINTERFACE, m_plugin->Initialize(m_host.serviceProvider.Get()));
  EXPECT_THAT(LogCapture::Messages(), ElementsAre(kNoProviderLine));
  // The event broker is never asked for.
  const auto queried = m_host.serviceProvider->QueriedServices();
  ASSERT_EQ(1u, queried.size());
  EXPECT_EQ(SID_PowerDownProvider, queried[0]);
}

TEST_F(ConfigMgrPluginTest, MissingEventBrokerKeepsTheProvider) {
  m_host.serviceProvider->Offer(SID_PowerDownProvider,
                                m_host.powerDownProvider.Get());
  m_host.serviceProvider->Fail(SID_EventBroker, E_FAIL);
  const LONG providerRefs = m_host.powerDownProvider->RefCount();

  EXPECT_EQ(E_FAIL, m_plugin->Initialize(m_host.serviceProvider.Get()));
  EXPECT_THAT(LogCapture::Messages(), ElementsAre(kNoBrokerLine));
  // Not undone: the provider stays with the object until it is destroyed.
  EXPECT_EQ(providerRefs + 1, m_host.powerDownProvider->RefCount());
  m_plugin.Reset();
  EXPECT_EQ(providerRefs, m_host.powerDownProvider->RefCount());
}

TEST_F(ConfigMgrPluginTest, InitializeSubscribesBothHandlersGivesBrokerBack) {
  m_host = FakeHost();
  const LONG providerRefs = m_host.powerDownProvider->RefCount();
  const LONG brokerRefs = m_host.eventBroker->RefCount();
  EXPECT_EQ(S_OK, m_plugin->Initialize(m_host.serviceProvider.Get()));
  EXPECT_TRUE(LogCapture::Messages().empty());
  EXPECT_EQ(1, m_host.eventBroker->SubscriptionCount(EVENTID_Autoshutdown));
  EXPECT_EQ(1, m_host.eventBroker->SubscriptionCount(EVENTID_PowerStateChange));
  // The plug-in's reference and the auto-shutdown thread's.
  EXPECT_EQ(providerRefs + 2, m_host.powerDownProvider->RefCount());
  EXPECT_EQ(brokerRefs, m_host.eventBroker->RefCount());
  EXPECT_EQ(1, m_host.serviceProvider->RefCount());
}

TEST_F(ConfigMgrPluginTest, HandlerThatCannotAttachFailsInitialize) {
  m_host = FakeHost();
  m_host.serviceProvider->Fail(SID_TimeSinceLastInputProvider, E_NOINTERFACE);
  EXPECT_EQ(E_NOINTERFACE, m_plugin->Initialize(m_host.serviceProvider.Get()));
  EXPECT_THAT(LogCapture::Messages(),
              ElementsAre("[T]: Time since last user input provider has not "
                          "been registered with the service provider; "
                          "bailing...\n"));
  EXPECT_EQ(0, m_host.eventBroker->SubscriptionCount(EVENTID_Autoshutdown));
}

TEST_F(ConfigMgrPluginTest, UninitializeReleasesNothing) {
  m_host = FakeHost();
  ASSERT_EQ(S_OK, m_plugin->Initialize(m_host.serviceProvider.Get()));
  const LONG providerRefs = m_host.powerDownProvider->RefCount();

  EXPECT_EQ(S_OK, m_plugin->Uninitialize());
  EXPECT_EQ(providerRefs, m_host.powerDownProvider->RefCount());
  // The references go with the object's last reference.
  m_plugin.Reset();
  EXPECT_EQ(providerRefs - 1, m_host.powerDownProvider->RefCount());
}

TEST_F(ConfigMgrPluginTest, DetailsNameThePluginAndItsVersion) {
  NTarn::ScopedBstr name, version;
  ASSERT_EQ(S_OK,
            m_plugin->GetPluginDetails(name.Receive(), version.Receive()));
  EXPECT_STREQ(L"Vesperline Microsoft ConfigMgr\\SMS Plugin", name.Get());
  EXPECT_STREQ(L"6.0.500.167 r134132 (x64)", version.Get());
  EXPECT_EQ(41u, name.Length());
}

TEST_F(ConfigMgrPluginTest, NullPointersAreRejected) {
  EXPECT_EQ(E_POINTER, m_plugin->Initialize(nullptr));
  BSTR text = nullptr;
  EXPECT_EQ(E_POINTER, m_plugin->GetPluginDetails(nullptr, &text));
  EXPECT_EQ(nullptr, text);
  EXPECT_EQ(E_POINTER, m_plugin->GetPluginDetails(&text, nullptr));
  EXPECT_EQ(nullptr, text);
}

}  // namespace
