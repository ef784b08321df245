// The plug-in made, initialised and let go of many times over, as a host that
// reloads it does: nothing accumulates in the process.
#include <gtest/gtest.h>
#include <wrl/client.h>

#include "tests/dll/PluginDll.h"
#include "tests/support/HostDoubles.h"
#include "tests/support/ProcessCounts.h"
#include "tests/support/ScratchLocalMachine.h"

namespace {

using Microsoft::WRL::ComPtr;
using vpltest::PluginDll;

TEST(PluginLifetimeStressTest, ThousandLifetimesLeaveNothingBehind) {
  vpltest::ScratchLocalMachine registry;
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(S_OK, PluginDll::Get().GetClassObject(CLSID_ConfigMgrPlugin,
                                                  IID_PPV_ARGS(&factory)));
  // One lifetime first: whatever the system sets up once for the process
  // (the registry redirection, the chassis answer) is not counted.
  int threads = 0;
  int handles = 0;
  for (int round = 0; round <= 1000; ++round) {
    vpltest::FakeHost host;
    {
      ComPtr<IVesperlinePlugin> plugin;
      ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&plugin)));
      ASSERT_EQ(S_OK, plugin->Initialize(host.serviceProvider.Get()));
      ASSERT_EQ(S_OK, plugin->Uninitialize());
    }
    host.ReleaseHeld();
    ASSERT_TRUE(host.OnlyTestReferencesRemain()) << "round " << round;
    if (round == 0) {
      threads = vpltest::ThreadCount();
      handles = vpltest::HandleCount();
    }
  }
  factory.Reset();
  ASSERT_GT(threads, 0);
  ASSERT_GT(handles, 0);
  EXPECT_EQ(S_OK, PluginDll::Get().CanUnloadNow());
  EXPECT_EQ(threads, vpltest::ThreadCount());
  EXPECT_EQ(handles, vpltest::HandleCount());
}

}  // namespace
