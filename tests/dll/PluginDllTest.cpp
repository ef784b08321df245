// The DLL through its exports, as a host that knows only the contract uses
// it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <wrl/client.h>

#include <string>

#include "common/ScopedBstr.h"
#include "tests/dll/PluginDll.h"
#include "tests/support/HostDoubles.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ScratchLocalMachine.h"

namespace {

using Microsoft::WRL::ComPtr;
using NTarn::ScopedBstr;
using ::testing::ElementsAre;
using vpltest::FakeHost;
using vpltest::LogCapture;
using vpltest::PluginDll;

class PluginDllTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(nullptr, PluginDll::Get().Handle());
    LogCapture::Clear();
  }
  void TearDown() override { PluginDll::Get().ExpectReleased(m_host); }
  ComPtr<IClassFactory> Factory() {
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(S_OK, PluginDll::Get().GetClassObject(CLSID_ConfigMgrPlugin,
                                                    IID_PPV_ARGS(&factory)));
    return factory;
  }

  FakeHost m_host{FakeHost::Offers::NoServices};
};

TEST_F(PluginDllTest, UnknownClassIsNotAvailable) {
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE,
            PluginDll::Get().GetClassObject(IID_IVesperlinePlugin,
                                            IID_IClassFactory, &object));
  EXPECT_EQ(nullptr, object);
}

TEST_F(PluginDllTest, HeldFactoryOrLiveInstanceKeepsTheDllLoaded) {
  ComPtr<IClassFactory> factory = Factory();
  EXPECT_EQ(S_FALSE, PluginDll::Get().CanUnloadNow());
  ComPtr<IVesperlinePlugin> plugin;
  ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&plugin)));
  factory.Reset();
  EXPECT_EQ(S_FALSE, PluginDll::Get().CanUnloadNow());
  plugin.Reset();
  EXPECT_EQ(S_OK, PluginDll::Get().CanUnloadNow());
  ASSERT_EQ(S_OK, Factory()->LockServer(TRUE));
  EXPECT_EQ(S_FALSE, PluginDll::Get().CanUnloadNow());
  ASSERT_EQ(S_OK, Factory()->LockServer(FALSE));
}

// The aggregated plug-in answers as the plain one does: its name and version.
TEST_F(PluginDllTest, AggregationIsOfferedOnlyThroughIUnknown) {
  ComPtr<vpltest::FakeOuterObject> outer =
      vpltest::MakeFake<vpltest::FakeOuterObject>();
  ComPtr<IClassFactory> factory = Factory();
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(
      CLASS_E_NOAGGREGATION,
      factory->CreateInstance(outer.Get(), IID_IVesperlinePlugin, &object));
  EXPECT_EQ(nullptr, object);
  ComPtr<IUnknown> inner;
  ASSERT_EQ(S_OK, factory->CreateInstance(outer.Get(), IID_PPV_ARGS(&inner)));
  factory.Reset();
  outer->SetInner(inner.Get());
  inner.Reset();
  ComPtr<IVesperlinePlugin> plugin;
  ASSERT_EQ(S_OK, outer.As(&plugin));
  ScopedBstr name, version;
  ASSERT_EQ(S_OK, plugin->GetPluginDetails(name.Receive(), version.Receive()));
  EXPECT_STREQ(L"Vesperline Microsoft ConfigMgr\\SMS Plugin", name.Get());
  EXPECT_STREQ(L"6.0.500.167 r134132 (x64)", version.Get());
  plugin.Reset();
  EXPECT_EQ(S_FALSE, PluginDll::Get().CanUnloadNow());
  outer->ReleaseInner();
  EXPECT_EQ(1, outer->RefCount());
}

// A host without the provider, or whose broker refuses, hears why.
TEST_F(PluginDllTest, InitializeWithoutAServiceLogsThroughTheHost) {
  // clang-format off
  const struct { bool offerProvider; HRESULT result; const char* line; } cases[] = {
      {false, E_NOINTERFACE, "[T]: Power down provider has not been registered with the service provider; bailing...\n"},
      {true, E_ACCESSDENIED, "[T]: Failed to query for event broker whilst initializing the CM\\SMS plugin.\n"},
  };
  // clang-format on
  for (const auto& test : cases) {
    SCOPED_TRACE(test.line);
    m_host = FakeHost(FakeHost::Offers::NoServices);
    m_host.serviceProvider->Fail(SID_PowerDownProvider, E_NOINTERFACE);
    if (test.offerProvider)
      m_host.serviceProvider->Offer(SID_PowerDownProvider,
                                    m_host.powerDownProvider.Get());
    m_host.serviceProvider->Fail(SID_EventBroker, E_ACCESSDENIED);
    LogCapture::Clear();
    EXPECT_EQ(test.result, PluginDll::Get().CreatePlugin()->Initialize(
                               m_host.serviceProvider.Get()));
    EXPECT_THAT(LogCapture::Messages(), ElementsAre(test.line));
    TearDown();  // each host is left with its own references only
  }
}

int CountContaining(const std::string& text) {
  int count = 0;
  for (const std::string& line : LogCapture::Messages())
    count += line.find(text) != std::string::npos;
  return count;
}

// The real worker waits for minutes before its request: only its start, the
// refusal of a second event and its stop are seen here.
TEST_F(PluginDllTest, AutoshutdownEventRunsOneWorkerUntilPowerStateStopsIt) {
  vpltest::ScratchLocalMachine settings;
  settings.Set("Software\\Tarn\\Vesperline", "debug", DWORD{0x40});
  m_host = FakeHost();
  ComPtr<IVesperlinePlugin> plugin = PluginDll::Get().CreatePlugin();
  ASSERT_EQ(S_OK, plugin->Initialize(m_host.serviceProvider.Get()));
  EXPECT_EQ(1, m_host.eventBroker->SubscriptionCount(EVENTID_Autoshutdown));
  EXPECT_EQ(1, m_host.eventBroker->SubscriptionCount(EVENTID_PowerStateChange));
  EXPECT_EQ(S_OK, m_host.eventBroker->FireAutoshutdown());
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_SERVICE_ALREADY_RUNNING),
            m_host.eventBroker->FireAutoshutdown());
  EXPECT_EQ(S_OK, m_host.eventBroker->FirePowerStateChange(5));
  EXPECT_EQ(1, CountContaining("Auto power down thread was running"));
  // One worker, started once and joined once.
  EXPECT_EQ(1, CountContaining(" started\n"));
  EXPECT_EQ(1, CountContaining(" ended\n"));
  EXPECT_EQ(0, m_host.powerDownProvider->CallCount(3));
  plugin.Reset();
}

TEST(PluginDllExportsTest, AllFiveEntryPointsAreExported) {
  for (const char* name :
       {"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer",
        "DllUnregisterServer", "DllInstall"}) {
    EXPECT_NE(nullptr, GetProcAddress(PluginDll::Get().Handle(), name)) << name;
  }
}

TEST(PluginDllResourcesTest, StringTableReadsBackThroughWindows) {
  const std::pair<UINT, const wchar_t*> expected[] = {
      {100, L"VplCMgr"},
      {101, L"Pending (or) running jobs power down observer"},
      {102, L"SMS\\CMgr jobs in progress"},
      {103, L"SMS\\CMgr jobs pending in %d minutes"},
      {104, L"\"Cancelling %ls\""},
      {105, L"Auto power down request"},
      {106, L"Initiated auto power down request (retry=%d)"},
  };
  for (const auto& [id, text] : expected) {
    wchar_t buffer[128] = L"";
    EXPECT_EQ(static_cast<int>(wcslen(text)),
              LoadStringW(PluginDll::Get().Handle(), id, buffer, 128));
    EXPECT_STREQ(text, buffer);
  }
  // US English, as the host's language lookup expects.
  EXPECT_NE(nullptr,
            FindResourceExW(PluginDll::Get().Handle(), RT_STRING,
                            MAKEINTRESOURCEW(100 / 16 + 1),
                            MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)));
}

TEST(PluginDllResourcesTest, VersionResourceReadsBackThroughWindows) {
  const std::wstring path = PluginDll::Get().Path();
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
  ASSERT_NE(0u, size);
  std::vector<BYTE> info(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\",
                             reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(MAKELONG(0, 6), fixed->dwFileVersionMS);
  EXPECT_EQ(MAKELONG(167, 500), fixed->dwFileVersionLS);
  EXPECT_EQ(fixed->dwFileVersionMS, fixed->dwProductVersionMS);
  EXPECT_EQ(fixed->dwFileVersionLS, fixed->dwProductVersionLS);
  DWORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &length));
  EXPECT_EQ(MAKELONG(0x0809, 1200), translation[0]);
  // clang-format off
  const std::pair<const wchar_t*, const wchar_t*> strings[] = {
      {L"FileVersion", L"6.0.500.167 r134132"}, {L"ProductVersion", L"6.0.500.167 r134132"},
      {L"FileDescription", L"Microsoft ConfigMgr Plugin for Vesperline"}, {L"ProductName", L"Vesperline"},
      {L"InternalName", L"VplCMgr.dll"}, {L"OriginalFilename", L"VplSvc.exe"},
      {L"Comments", L"Automated Shutdown service for Microsoft Windows"},
  };
  // clang-format on
  for (const auto& [name, text] : strings) {
    void* value = nullptr;
    const std::wstring query =
        std::wstring(L"\\StringFileInfo\\080904B0\\") + name;
    ASSERT_TRUE(VerQueryValueW(info.data(), query.c_str(), &value, &length))
        << name;
    EXPECT_STREQ(text, static_cast<const wchar_t*>(value)) << name;
  }
}

// A private copy of the DLL really unloads while the other tests keep theirs;
// the factory stays cached in the module until the library goes.
TEST(PluginDllUnloadTest, UnloadAfterUseReleasesCachedFactoryAndReloads) {
  wchar_t folder[MAX_PATH];
  GetTempPathW(MAX_PATH, folder);
  const std::wstring copy = std::wstring(folder) + L"VplCMgrUnloadTest.dll";
  ASSERT_TRUE(CopyFileW(PluginDll::Get().Path().c_str(), copy.c_str(), FALSE));
  for (int round = 0; round < 2; ++round) {
    HMODULE dll = LoadLibraryW(copy.c_str());
    ASSERT_NE(nullptr, dll);
    auto getClassObject =
        reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(
            GetProcAddress(dll, "DllGetClassObject"));
    auto canUnloadNow = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        GetProcAddress(dll, "DllCanUnloadNow"));
    ASSERT_TRUE(getClassObject && canUnloadNow);
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK,
              getClassObject(CLSID_ConfigMgrPlugin, IID_PPV_ARGS(&factory)));
    ComPtr<IVesperlinePlugin> plugin;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&plugin)));
    plugin.Reset();
    factory.Reset();
    EXPECT_EQ(S_OK, canUnloadNow());
    EXPECT_TRUE(FreeLibrary(dll));
    EXPECT_EQ(nullptr, GetModuleHandleW(copy.c_str()));
  }
  DeleteFileW(copy.c_str());
}

}  // namespace
