// Registration of the real DLL under the platform's own regsvr32 and through
// its exported entry points, as an installer and a host see it.
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/ScopedBstr.h"
#include "common/ScopedHandle.h"
#include "contract/HostContract.h"
#include "tests/support/RegistrationTables.h"
#include "tests/support/RegistryTree.h"
#include "tests/support/RunProgram.h"

namespace {

using Microsoft::WRL::ComPtr;
using NTarn::ScopedBstr;
using NTarn::ScopedRegKey;
using vpltest::ExpectedRegistration;
using vpltest::ReadRegistryTrees;
using vpltest::RegisteredPaths;
using vpltest::RegistryKeyExists;

using RegisterFunction = HRESULT(WINAPI*)();
using InstallFunction = HRESULT(WINAPI*)(BOOL, LPCWSTR);

// The DLL sits next to the test program.
std::wstring DllPath() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring result = path;
  return result.substr(0, result.find_last_of(L'\\') + 1) + L"VplCMgr.dll";
}

// Windows always has both classes keys; a fresh Wine prefix may lack the
// user's until something registers per user.
ScopedRegKey OpenClasses(HKEY root) {
  ScopedRegKey key;
  ::RegCreateKeyExW(root, L"Software\\Classes", 0, nullptr, 0, KEY_READ,
                    nullptr, key.Receive(), nullptr);
  return key;
}

HRESULT LoadRegisteredTypeLibrary() {
  ComPtr<ITypeLib> library;
  return ::LoadRegTypeLib(LIBID_VplCMgrLib, 5, 5, 0x409, &library);
}

class RegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dllPath = DllPath();
    m_dll = ::LoadLibraryW(m_dllPath.c_str());
    ASSERT_NE(nullptr, m_dll);
    m_registerServer = reinterpret_cast<RegisterFunction>(
        ::GetProcAddress(m_dll, "DllRegisterServer"));
    m_unregisterServer = reinterpret_cast<RegisterFunction>(
        ::GetProcAddress(m_dll, "DllUnregisterServer"));
    m_install = reinterpret_cast<InstallFunction>(
        ::GetProcAddress(m_dll, "DllInstall"));
    m_canUnloadNow = reinterpret_cast<RegisterFunction>(
        ::GetProcAddress(m_dll, "DllCanUnloadNow"));
    ASSERT_TRUE(m_registerServer && m_unregisterServer && m_install &&
                m_canUnloadNow);
    m_machineClasses = OpenClasses(HKEY_LOCAL_MACHINE);
    m_userClasses = OpenClasses(HKEY_CURRENT_USER);
    ASSERT_TRUE(m_machineClasses && m_userClasses);
    ASSERT_TRUE(NothingRegistered()) << "the prefix holds a registration";
  }

  // Leaves the prefix unregistered whatever the test did.
  void TearDown() override {
    if (m_dll) {
      EXPECT_EQ(S_OK, m_unregisterServer());
      EXPECT_EQ(S_OK, m_install(FALSE, L"user"));
      EXPECT_TRUE(NothingRegistered());
      ::FreeLibrary(m_dll);
    }
  }

  bool NothingRegistered() const {
    return ReadRegistryTrees(m_machineClasses.Get(), RegisteredPaths())
               .empty() &&
           ReadRegistryTrees(m_userClasses.Get(), RegisteredPaths()).empty() &&
           LoadRegisteredTypeLibrary() == TYPE_E_LIBNOTREGISTERED;
  }

  // Runs regsvr32 silently on the DLL; returns its exit code.
  DWORD RunRegsvr32(const std::wstring& options) const {
    return vpltest::RunProgram(L"regsvr32.exe /s " + options + L" \"" +
                               m_dllPath + L"\"");
  }

  std::wstring m_dllPath;
  HMODULE m_dll = nullptr;
  RegisterFunction m_registerServer = nullptr;
  RegisterFunction m_unregisterServer = nullptr;
  InstallFunction m_install = nullptr;
  RegisterFunction m_canUnloadNow = nullptr;
  ScopedRegKey m_machineClasses;
  ScopedRegKey m_userClasses;
};

TEST_F(RegistrationTest,
       Regsvr32RegistersBothTablesAndTheTypeLibraryThenRemovesThem) {
  ASSERT_EQ(0u, RunRegsvr32(L""));
  EXPECT_EQ(ExpectedRegistration(m_dllPath),
            ReadRegistryTrees(HKEY_CLASSES_ROOT, RegisteredPaths()));
  EXPECT_TRUE(
      ReadRegistryTrees(m_userClasses.Get(), RegisteredPaths()).empty());
  ScopedBstr libraryPath;
  ASSERT_EQ(S_OK, ::QueryPathOfRegTypeLib(LIBID_VplCMgrLib, 5, 5, 0x409,
                                          libraryPath.Receive()));
  EXPECT_STREQ(m_dllPath.c_str(), libraryPath.Get());
  EXPECT_EQ(S_OK, LoadRegisteredTypeLibrary());

  ASSERT_EQ(0u, RunRegsvr32(L"/u"));
  EXPECT_TRUE(ReadRegistryTrees(HKEY_CLASSES_ROOT, RegisteredPaths()).empty());
  EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, L"AppID"));
  EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, L"CLSID"));
  EXPECT_FALSE(RegistryKeyExists(
      HKEY_CLASSES_ROOT, std::wstring(L"TypeLib\\") + vpltest::kPluginLibId));
  EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, LoadRegisteredTypeLibrary());

  // Nothing left to remove is no failure.
  EXPECT_EQ(0u, RunRegsvr32(L"/u"));
}

TEST_F(RegistrationTest, HostCreatesThePluginByClsidAlone) {
  ASSERT_EQ(0u, RunRegsvr32(L""));
  CLSID fromProgId = {};
  EXPECT_EQ(S_OK, ::CLSIDFromProgID(L"VplCMgr.ConfigMgrPlugin", &fromProgId));
  EXPECT_EQ(CLSID_ConfigMgrPlugin, fromProgId);

  // This thread is in the multithreaded apartment, as the host's are.
  ComPtr<IVesperlinePlugin> plugin;
  ASSERT_EQ(S_OK,
            ::CoCreateInstance(CLSID_ConfigMgrPlugin, nullptr,
                               CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&plugin)));
  // COM loaded the registered file: the module this test holds.
  EXPECT_EQ(m_dll, ::GetModuleHandleW(m_dllPath.c_str()));
  EXPECT_EQ(S_FALSE, m_canUnloadNow());
  ScopedBstr name;
  ScopedBstr version;
  EXPECT_EQ(S_OK, plugin->GetPluginDetails(name.Receive(), version.Receive()));
  EXPECT_STREQ(L"Vesperline Microsoft ConfigMgr\\SMS Plugin", name.Get());
  EXPECT_STREQ(L"6.0.500.167 r134132 (x64)", version.Get());
  EXPECT_EQ(0u, plugin.Reset());
  EXPECT_EQ(S_OK, m_canUnloadNow());
}

TEST_F(RegistrationTest, InstallForUserWritesUnderTheUsersClassesOnly) {
  // regsvr32 /n /i:user calls DllInstall(TRUE, L"user").
  ASSERT_EQ(0u, RunRegsvr32(L"/n /i:user"));
  EXPECT_EQ(ExpectedRegistration(m_dllPath),
            ReadRegistryTrees(m_userClasses.Get(), RegisteredPaths()));
  EXPECT_TRUE(
      ReadRegistryTrees(m_machineClasses.Get(), RegisteredPaths()).empty());
  // Registered through RegisterTypeLibForUser; found either way.
  EXPECT_EQ(S_OK, LoadRegisteredTypeLibrary());

  EXPECT_EQ(S_OK, m_install(FALSE, L"USER"));
  EXPECT_TRUE(
      ReadRegistryTrees(m_userClasses.Get(), RegisteredPaths()).empty());
  EXPECT_TRUE(RegistryKeyExists(m_userClasses.Get(), L"AppID"));
  EXPECT_TRUE(RegistryKeyExists(m_userClasses.Get(), L"CLSID"));
  EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, LoadRegisteredTypeLibrary());

  // The other way round: the entry point installs, regsvr32 uninstalls.
  ASSERT_EQ(S_OK, m_install(TRUE, L"USER"));
  EXPECT_EQ(ExpectedRegistration(m_dllPath),
            ReadRegistryTrees(m_userClasses.Get(), RegisteredPaths()));
  EXPECT_TRUE(
      ReadRegistryTrees(m_machineClasses.Get(), RegisteredPaths()).empty());
  ASSERT_EQ(0u, RunRegsvr32(L"/u /n /i:user"));
  EXPECT_TRUE(
      ReadRegistryTrees(m_userClasses.Get(), RegisteredPaths()).empty());
  EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, LoadRegisteredTypeLibrary());
}

TEST_F(RegistrationTest, InstallWithAnyOtherCommandLineRegistersMachineWide) {
  const LCID original = ::GetThreadLocale();
  const LCID german =
      MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT);
  const wchar_t* const kCommandLines[] = {L"users", L"use", L"", nullptr};
  for (const wchar_t* commandLine : kCommandLines) {
    SCOPED_TRACE(commandLine ? commandLine : L"(null)");
    ASSERT_TRUE(::SetThreadLocale(german));
    ASSERT_EQ(S_OK, m_install(TRUE, commandLine));
    EXPECT_EQ(german, ::GetThreadLocale());
    EXPECT_EQ(ExpectedRegistration(m_dllPath),
              ReadRegistryTrees(m_machineClasses.Get(), RegisteredPaths()));
    EXPECT_TRUE(
        ReadRegistryTrees(m_userClasses.Get(), RegisteredPaths()).empty());
    EXPECT_EQ(S_OK, LoadRegisteredTypeLibrary());

    EXPECT_EQ(S_OK, m_install(FALSE, nullptr));
    EXPECT_EQ(german, ::GetThreadLocale());
    EXPECT_TRUE(
        ReadRegistryTrees(m_machineClasses.Get(), RegisteredPaths()).empty());
    EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, LoadRegisteredTypeLibrary());
  }
  ::SetThreadLocale(original);
}

TEST_F(RegistrationTest, FailedRegistrationIsRolledBackByInstallOnly) {
  // A key the class script must write to, which nobody may write values to.
  const std::wstring lockedKey = L"VplCMgr.ConfigMgrPlugin\\CurVer";
  vpltest::CreateKeyDenyingSetValue(HKEY_CLASSES_ROOT, lockedKey);
  if (HasFatalFailure()) return;

  // DllRegisterServer stops at the failure and leaves what it wrote.
  EXPECT_EQ(E_ACCESSDENIED, m_registerServer());
  EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, L"AppID\\VplCMgr.DLL"));
  EXPECT_TRUE(
      RegistryKeyExists(HKEY_CLASSES_ROOT, L"VplCMgr.ConfigMgrPlugin.1"));
  EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, LoadRegisteredTypeLibrary());
  // Unregistering a partial registration removes all of it.
  EXPECT_EQ(S_OK, m_unregisterServer());
  EXPECT_TRUE(NothingRegistered());

  vpltest::CreateKeyDenyingSetValue(HKEY_CLASSES_ROOT, lockedKey);
  if (HasFatalFailure()) return;
  EXPECT_EQ(E_ACCESSDENIED, m_install(TRUE, nullptr));
  EXPECT_TRUE(NothingRegistered());
  EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, lockedKey));
  ::RegDeleteTreeW(HKEY_CLASSES_ROOT, L"VplCMgr.ConfigMgrPlugin");
}

}  // namespace
