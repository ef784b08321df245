// The object model, module lock and class factory, exercised on the plug-in
// object linked in directly.
#include <gtest/gtest.h>
#include <wrl/client.h>

#include "plugin/ClassFactory.h"
#include "plugin/ConfigMgrPlugin.h"
#include "plugin/Module.h"
#include "plugin/registration/RegistryReplacements.h"
#include "tests/support/HostDoubles.h"

namespace {

using Microsoft::WRL::ComPtr;
using vpltest::FakeOuterObject;
using vpltest::MakeFake;

class ComObjectModelTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(0, Module().GetLockCount()); }
};

LONG RefCountOf(IUnknown* object) {
  object->AddRef();
  return static_cast<LONG>(object->Release());
}

TEST_F(ComObjectModelTest, PlainObjectLocksModuleWhileAlive) {
  ComPtr<IVesperlinePlugin> plugin;
  ASSERT_EQ(S_OK, NTarn::CreateComInstance<CConfigMgrPlugin>(
                      nullptr, IID_PPV_ARGS(&plugin)));
  EXPECT_EQ(1, Module().GetLockCount());
  EXPECT_EQ(1, RefCountOf(plugin.Get()));
  plugin.Reset();
  EXPECT_EQ(0, Module().GetLockCount());
}

TEST_F(ComObjectModelTest, AnswersExactlyItsInterfaces) {
  ComPtr<IUnknown> unknown;
  ASSERT_EQ(S_OK, NTarn::CreateComInstance<CConfigMgrPlugin>(
                      nullptr, IID_PPV_ARGS(&unknown)));
  ComPtr<IVesperlinePlugin> plugin;
  EXPECT_EQ(S_OK, unknown.As(&plugin));
  // IUnknown is the same identity from every interface.
  ComPtr<IUnknown> identity;
  EXPECT_EQ(S_OK, plugin.As(&identity));
  EXPECT_EQ(unknown.Get(), identity.Get());

  for (const IID* iid :
       {&IID_IDispatch, &IID_IPowerDownObserver, &IID_IAutoshutdownEvent,
        &IID_IClassFactory, &IID_IServiceProvider}) {
    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, unknown->QueryInterface(*iid, &other));
    EXPECT_EQ(nullptr, other);
  }
  EXPECT_EQ(E_POINTER, unknown->QueryInterface(IID_IUnknown, nullptr));
}

TEST_F(ComObjectModelTest, CreationRejectsNullOutPointer) {
  EXPECT_EQ(E_POINTER, NTarn::CreateComInstance<CConfigMgrPlugin>(
                           nullptr, IID_IVesperlinePlugin, nullptr));
}

TEST_F(ComObjectModelTest, FailedQueryDestroysNewObject) {
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(E_NOINTERFACE, NTarn::CreateComInstance<CConfigMgrPlugin>(
                               nullptr, IID_IDispatch, &object));
  EXPECT_EQ(nullptr, object);
}

TEST_F(ComObjectModelTest, AggregatedObjectDelegatesToOuter) {
  ComPtr<FakeOuterObject> outer = MakeFake<FakeOuterObject>();
  ComPtr<IUnknown> inner;
  ASSERT_EQ(S_OK, NTarn::CreateComInstance<CConfigMgrPlugin>(
                      outer.Get(), IID_PPV_ARGS(&inner)));
  outer->SetInner(inner.Get());
  inner.Reset();
  EXPECT_EQ(1, Module().GetLockCount());

  // Through the outer object the inner interface is reachable, and the
  // reference it hands out is counted on the outer object.
  ComPtr<IVesperlinePlugin> plugin;
  ASSERT_EQ(S_OK, outer.As(&plugin));
  EXPECT_EQ(2, outer->RefCount());
  // QueryInterface on the inner interface reaches the outer object's own.
  ComPtr<IServiceProvider> outerService;
  EXPECT_EQ(S_OK, plugin.As(&outerService));
  ComPtr<IUnknown> identity;
  EXPECT_EQ(S_OK, plugin.As(&identity));
  EXPECT_EQ(static_cast<IUnknown*>(static_cast<IServiceProvider*>(outer.Get())),
            identity.Get());
  identity.Reset();
  outerService.Reset();
  plugin.Reset();
  EXPECT_EQ(1, outer->RefCount());

  // The private IUnknown answers only itself and the inner interfaces.
  void* none = nullptr;
  EXPECT_EQ(E_NOINTERFACE,
            outer->Inner()->QueryInterface(IID_IServiceProvider, &none));

  outer->ReleaseInner();
  EXPECT_EQ(0, Module().GetLockCount());
  EXPECT_EQ(1, outer->RefCount());
}

TEST_F(ComObjectModelTest, FactoryLocksModuleOnlyWhileHeldOutsideCache) {
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(S_OK, Module().GetClassObject(CLSID_ConfigMgrPlugin,
                                          IID_PPV_ARGS(&factory)));
  EXPECT_EQ(1, Module().GetLockCount());
  // A second holder shares the cached factory and adds no lock.
  ComPtr<IUnknown> again;
  ASSERT_EQ(S_OK, Module().GetClassObject(CLSID_ConfigMgrPlugin,
                                          IID_PPV_ARGS(&again)));
  EXPECT_EQ(static_cast<IUnknown*>(factory.Get()), again.Get());
  EXPECT_EQ(1, Module().GetLockCount());
  again.Reset();
  EXPECT_EQ(1, Module().GetLockCount());
  factory.Reset();
  EXPECT_EQ(0, Module().GetLockCount());
}

TEST_F(ComObjectModelTest, LockServerCountsOnTheModule) {
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(S_OK, Module().GetClassObject(CLSID_ConfigMgrPlugin,
                                          IID_PPV_ARGS(&factory)));
  EXPECT_EQ(S_OK, factory->LockServer(TRUE));
  EXPECT_EQ(S_OK, factory->LockServer(TRUE));
  factory.Reset();
  EXPECT_EQ(2, Module().GetLockCount());
  ASSERT_EQ(S_OK, Module().GetClassObject(CLSID_ConfigMgrPlugin,
                                          IID_PPV_ARGS(&factory)));
  EXPECT_EQ(S_OK, factory->LockServer(FALSE));
  EXPECT_EQ(S_OK, factory->LockServer(FALSE));
  factory.Reset();
}

TEST_F(ComObjectModelTest, FactoryCreatesPlainAndAggregatedInstances) {
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(S_OK, Module().GetClassObject(CLSID_ConfigMgrPlugin,
                                          IID_PPV_ARGS(&factory)));
  ComPtr<FakeOuterObject> outer = MakeFake<FakeOuterObject>();

  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(
      CLASS_E_NOAGGREGATION,
      factory->CreateInstance(outer.Get(), IID_IVesperlinePlugin, &object));
  EXPECT_EQ(nullptr, object);
  EXPECT_EQ(E_POINTER,
            factory->CreateInstance(nullptr, IID_IVesperlinePlugin, nullptr));

  ComPtr<IUnknown> inner;
  ASSERT_EQ(S_OK, factory->CreateInstance(outer.Get(), IID_PPV_ARGS(&inner)));
  ComPtr<IVesperlinePlugin> plain;
  ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&plain)));
  EXPECT_EQ(3, Module().GetLockCount());
  inner.Reset();
  plain.Reset();
  factory.Reset();
  EXPECT_EQ(1, outer->RefCount());
}

TEST_F(ComObjectModelTest, UnknownClassIsNotAvailable) {
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE,
            Module().GetClassObject(IID_IVesperlinePlugin, IID_IClassFactory,
                                    &object));
  EXPECT_EQ(nullptr, object);
}

TEST_F(ComObjectModelTest, EndingTheModuleReleasesItsCachedFactory) {
  CVplCMgrModule module;
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(S_OK, module.GetClassObject(CLSID_ConfigMgrPlugin,
                                        IID_PPV_ARGS(&factory)));
  // What the module's destructor runs when DestroyModule ends it on unload.
  module.Term();
  // The test's reference is the factory's last.
  EXPECT_EQ(0u, factory.Detach()->Release());
}

TEST_F(ComObjectModelTest, GlobalInterfaceTableIsCreatedOnceAndKept) {
  EXPECT_EQ(E_POINTER, Module().GetGITPtr(nullptr));
  ComPtr<IGlobalInterfaceTable> first;
  ComPtr<IGlobalInterfaceTable> second;
  ASSERT_EQ(S_OK, Module().GetGITPtr(first.GetAddressOf()));
  ASSERT_EQ(S_OK, Module().GetGITPtr(second.GetAddressOf()));
  EXPECT_EQ(first.Get(), second.Get());
}

TEST(ModuleTest, CommonReplacementsNameTheAppId) {
  registration::RegistryReplacements replacements;
  EXPECT_EQ(S_OK, Module().AddCommonRGSReplacements(&replacements));
  ASSERT_NE(nullptr, replacements.Find(L"APPID"));
  EXPECT_STREQ(L"{0D433AD8-6F36-49BC-8D55-B88FFD0D0C6F}",
               replacements.Find(L"APPID"));
  EXPECT_EQ(E_POINTER, Module().AddCommonRGSReplacements(nullptr));
}

}  // namespace

// A class that stops a thread in FinalRelease relies on the library still
// being held then, plain or aggregated.
class FinalReleaseProbe : public NTarn::ComObjectRoot,
                          public IVesperlinePlugin {
 public:
  using InterfaceMap = NTarn::ComInterfaceMap<IVesperlinePlugin>;
  static inline LONG lockCountSeen = -1;
  void FinalRelease() { lockCountSeen = Module().GetLockCount(); }
  STDMETHOD(Initialize)(IServiceProvider*) override { return S_OK; }
  STDMETHOD(GetPluginDetails)(BSTR*, BSTR*) override { return S_OK; }
  STDMETHOD(Uninitialize)() override { return S_OK; }
};

TEST_F(ComObjectModelTest, FinalReleaseRunsWhileTheModuleIsHeld) {
  ComPtr<FakeOuterObject> outer = MakeFake<FakeOuterObject>();
  for (IUnknown* outerObject :
       {static_cast<IUnknown*>(nullptr), static_cast<IUnknown*>(outer.Get())}) {
    FinalReleaseProbe::lockCountSeen = -1;
    ComPtr<IUnknown> object;
    ASSERT_EQ(S_OK, NTarn::CreateComInstance<FinalReleaseProbe>(
                        outerObject, IID_PPV_ARGS(&object)));
    object.Reset();
    EXPECT_EQ(1, FinalReleaseProbe::lockCountSeen);
  }
}
