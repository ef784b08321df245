// A host that lets go of everything it holds of the plug-in, the library
// itself included, from inside a call the auto-shutdown worker makes: the
// worker ends on its own, the library then answers that it may unload, and
// once freed it is gone with no thread of it left.
#include <windows.h>

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <string>

#include "common/ScopedHandle.h"
#include "tests/dll/PluginDll.h"
#include "tests/support/HostDoubles.h"
#include "tests/support/ProcessCounts.h"
#include "tests/support/ScratchLocalMachine.h"
#include "tools/vplhost/ImportPatch.h"

namespace {

using Microsoft::WRL::ComPtr;
using NTarn::ScopedHandle;

// The worker's policy wait steps a minute at a time; in the copy under test
// a wait of a minute takes a millisecond.
DWORD(WINAPI* g_wait)(HANDLE, DWORD) = nullptr;
DWORD WINAPI MinuteIsAMillisecond(HANDLE handle, DWORD milliseconds) {
  return g_wait(handle, milliseconds == 60000 ? 1 : milliseconds);
}

ScopedHandle NewEvent() {
  return ScopedHandle(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

// A private copy of the DLL, so that unloading it leaves the other tests'.
TEST(WorkerUnloadTest, HostLettingGoInsideTheWorkersCallUnloadsAfterIt) {
  wchar_t folder[MAX_PATH];
  ::GetTempPathW(MAX_PATH, folder);
  const std::wstring copy = std::wstring(folder) + L"VplCMgrWorkerTest.dll";
  ASSERT_TRUE(::CopyFileW(vpltest::PluginDll::Get().Path().c_str(),
                          copy.c_str(), FALSE));
  vpltest::ScratchLocalMachine registry;
  registry.Set("Software\\Tarn\\Vesperline", "LogOffAction", "FORCE");
  registry.Set("Software\\Tarn\\Vesperline", "RetryAttempts", DWORD{1});
  registry.Set("Software\\Tarn\\Vesperline", "RetryInterval", DWORD{600});
  // The call in which the host lets go (0 input, 1 request, 2 withdrawal),
  // and whether it frees its own reference on the library there too.
  // clang-format off
  const struct { const char* name; int call; bool freedInside; } cases[] = {
      {"input", 0, false}, {"request", 1, false}, {"withdrawal", 2, false}, {"request, freed inside", 1, true}};
  // clang-format on
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    HMODULE dll = ::LoadLibraryW(copy.c_str());
    ASSERT_NE(nullptr, dll);
    auto getClassObject =
        reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(
            ::GetProcAddress(dll, "DllGetClassObject"));
    auto canUnloadNow = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        ::GetProcAddress(dll, "DllCanUnloadNow"));
    ASSERT_TRUE(getClassObject && canUnloadNow);
    vplhost::ImportPatch wait;
    ASSERT_EQ(S_OK, wait.Install(dll, "kernel32.dll", "WaitForSingleObject",
                                 reinterpret_cast<void*>(&MinuteIsAMillisecond),
                                 reinterpret_cast<void**>(&g_wait)));
    vpltest::FakeHost host;
    ComPtr<IClassFactory> factory;
    ComPtr<IVesperlinePlugin> plugin;
    ASSERT_EQ(S_OK,
              getClassObject(CLSID_ConfigMgrPlugin, IID_PPV_ARGS(&factory)));
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&plugin)));
    factory.Reset();
    ASSERT_EQ(S_OK, plugin->Initialize(host.serviceProvider.Get()));
    // Counted rather than matched by start address: every thread of the DLL
    // starts in the C runtime's thread entry, outside the DLL's image.
    const int threads = vpltest::ThreadCount();

    ScopedHandle started = NewEvent(), requested = NewEvent(),
                 letGone = NewEvent(), worker;
    HRESULT unloadInside = E_FAIL;
    bool loadedInside = false;
    const auto letGo = [&](int call) {
      if (call != test.call || worker) return;
      ::WaitForSingleObject(started.Get(), 10000);
      worker.Reset(::OpenThread(SYNCHRONIZE, FALSE, ::GetCurrentThreadId()));
      plugin.Reset();
      host.ReleaseHeld();
      unloadInside = canUnloadNow();
      if (test.freedInside) {
        wait.Restore();
        ::FreeLibrary(dll);
        loadedInside = ::GetModuleHandleW(copy.c_str()) != nullptr;
      }
      ::SetEvent(letGone.Get());
    };
    host.timeSinceLastInput->OnCall([&] { letGo(0); });
    host.powerDownProvider->OnRequest([&](IPowerDownContext*) {
      ::SetEvent(requested.Get());
      letGo(1);
    });
    // A host that has let go keeps nothing it is handed afterwards either.
    host.powerDownProvider->OnWithdraw([&](IPowerDownContext*) {
      letGo(2);
      host.powerDownProvider->ReleaseHeld();
    });
    ASSERT_EQ(S_OK, host.eventBroker->FireAutoshutdown());
    ::SetEvent(started.Get());
    if (test.call == 2) {
      ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(requested.Get(), 10000));
      EXPECT_EQ(S_OK, host.eventBroker->FirePowerStateChange(5));
    }
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(letGone.Get(), 10000));
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(worker.Get(), 10000));
    EXPECT_EQ(S_FALSE, unloadInside);  // the worker was still running
    if (test.freedInside) {
      EXPECT_TRUE(loadedInside);
    } else {
      // The worker gave back its own reference on the library, not the host's.
      ASSERT_NE(nullptr, ::GetModuleHandleW(copy.c_str()));
      EXPECT_EQ(S_OK, canUnloadNow());
      wait.Restore();
      EXPECT_TRUE(::FreeLibrary(dll));
    }
    EXPECT_EQ(nullptr, ::GetModuleHandleW(copy.c_str()));
    worker.Reset();
    EXPECT_EQ(threads, vpltest::ThreadCount());
    EXPECT_TRUE(host.OnlyTestReferencesRemain());
  }
  ::DeleteFileW(copy.c_str());
}

}  // namespace

namespace {

// The C runtime failing to create the worker's thread.
uintptr_t __cdecl NoThread(void*, unsigned, unsigned(__stdcall*)(void*), void*,
                           unsigned, unsigned*) {
  return 0;
}

// A worker whose thread cannot be started gives back the library reference
// it took for it: once the host lets go, the library unloads.
TEST(WorkerUnloadTest, WorkerThatCannotStartKeepsNoHoldOnTheLibrary) {
  wchar_t folder[MAX_PATH];
  ::GetTempPathW(MAX_PATH, folder);
  const std::wstring copy = std::wstring(folder) + L"VplCMgrNoThreadTest.dll";
  ASSERT_TRUE(::CopyFileW(vpltest::PluginDll::Get().Path().c_str(),
                          copy.c_str(), FALSE));
  vpltest::ScratchLocalMachine registry;
  HMODULE dll = ::LoadLibraryW(copy.c_str());
  ASSERT_NE(nullptr, dll);
  auto getClassObject =
      reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(
          ::GetProcAddress(dll, "DllGetClassObject"));
  auto canUnloadNow = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
      ::GetProcAddress(dll, "DllCanUnloadNow"));
  ASSERT_TRUE(getClassObject && canUnloadNow);
  vplhost::ImportPatch start;
  void* original = nullptr;
  ASSERT_EQ(S_OK, start.Install(dll, "msvcrt.dll", "_beginthreadex",
                                reinterpret_cast<void*>(&NoThread), &original));
  {
    vpltest::FakeHost host;
    ComPtr<IClassFactory> factory;
    ComPtr<IVesperlinePlugin> plugin;
    ASSERT_EQ(S_OK,
              getClassObject(CLSID_ConfigMgrPlugin, IID_PPV_ARGS(&factory)));
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&plugin)));
    factory.Reset();
    ASSERT_EQ(S_OK, plugin->Initialize(host.serviceProvider.Get()));
    EXPECT_EQ(E_FAIL, host.eventBroker->FireAutoshutdown());
    plugin.Reset();
    host.ReleaseHeld();
    EXPECT_TRUE(host.OnlyTestReferencesRemain());
  }
  EXPECT_EQ(S_OK, canUnloadNow());
  start.Restore();
  EXPECT_TRUE(::FreeLibrary(dll));
  EXPECT_EQ(nullptr, ::GetModuleHandleW(copy.c_str()));
  ::DeleteFileW(copy.c_str());
}

}  // namespace
