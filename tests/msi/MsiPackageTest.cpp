// The Windows Installer package as an administrator deploys it: quiet install,
// upgrade over an older build, a refused downgrade and uninstall, each checked
// against the files and the registry the DLL's own registration writes.
#include <windows.h>
#include <msi.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/ScopedBstr.h"
#include "common/ScopedHandle.h"
#include "plugin/HostContract.h"
#include "tests/support/RegistrationTables.h"
#include "tests/support/RegistryTree.h"

namespace {

using Microsoft::WRL::ComPtr;
using NTarn::ScopedBstr;
using NTarn::ScopedHandle;
using vpltest::ReadRegistryTrees;

constexpr wchar_t kUpgradeCode[] = L"{ADA4521E-3A71-4F06-B251-30FBFD454C77}";
constexpr wchar_t kInstallFolder[] = L"C:\\Program Files\\VplCMgr\\";

// Build paths as Wine's Z: drive shows them, with Windows separators.
std::wstring WindowsPath(std::wstring path) {
  std::replace(path.begin(), path.end(), L'/', L'\\');
  return path;
}

std::wstring StepFile(const std::wstring& name) {
  if (name == L"dll") return std::wstring(kInstallFolder) + L"VplCMgr.dll";
  return WindowsPath(name == L"current" ? VPL_MSI_CURRENT : VPL_MSI_OLDER);
}

std::vector<std::wstring> PackageFiles() {
  wchar_t windows[MAX_PATH] = {};
  ::GetWindowsDirectoryW(windows, MAX_PATH);
  const std::wstring policy = std::wstring(windows) + L"\\PolicyDefinitions\\";
  return {std::wstring(kInstallFolder) + L"VplCMgr.dll",
          std::wstring(kInstallFolder) + L"vplhost.exe",
          policy + L"VplCMgr.admx", policy + L"en-US\\VplCMgr.adml"};
}

// The registration scripts' keys plus what RegisterTypeLib records for the
// embedded library.
std::vector<std::wstring> ExpectedPackageRegistry() {
  const std::wstring dll = std::wstring(kInstallFolder) + L"VplCMgr.dll";
  const std::wstring library =
      std::wstring(L"TypeLib\\") + vpltest::kPluginLibId;
  std::vector<std::wstring> lines = vpltest::ExpectedRegistration(dll);
  const std::vector<std::wstring> typeLibLines = {
      library,
      library + L"\\5.5",
      library + L"\\5.5|@=VplCMgrLib",
      library + L"\\5.5\\409",
      library + L"\\5.5\\409\\win64",
      library + L"\\5.5\\409\\win64|@=" + dll,
      library + L"\\5.5\\FLAGS",
      library + L"\\5.5\\FLAGS|@=8",
      library + L"\\5.5\\HELPDIR",
      library + L"\\5.5\\HELPDIR|@=" + dll.substr(0, dll.rfind(L'\\')),
  };
  lines.insert(lines.end(), typeLibLines.begin(), typeLibLines.end());
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::vector<std::wstring> PackageRegistryPaths() {
  std::vector<std::wstring> paths = vpltest::RegisteredPaths();
  paths.push_back(std::wstring(L"TypeLib\\") + vpltest::kPluginLibId);
  return paths;
}

// Product codes installed under the package's upgrade code.
std::vector<std::wstring> InstalledProducts() {
  std::vector<std::wstring> products;
  wchar_t product[39] = {};
  for (DWORD index = 0; ::MsiEnumRelatedProductsW(kUpgradeCode, 0, index,
                                                  product) == ERROR_SUCCESS;
       ++index) {
    products.push_back(product);
  }
  return products;
}

std::wstring ProductVersion(const std::wstring& product) {
  wchar_t version[64] = {};
  DWORD length = ARRAYSIZE(version);
  if (::MsiGetProductInfoW(product.c_str(), INSTALLPROPERTY_VERSIONSTRING,
                           version, &length) != ERROR_SUCCESS) {
    return std::wstring();
  }
  return version;
}

// Runs `commandLine`; returns the program's exit code.
DWORD RunProgram(std::wstring commandLine) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &process)) {
    ADD_FAILURE() << "the program did not start: " << ::GetLastError();
    return ~0u;
  }
  const ScopedHandle thread(process.hThread);
  const ScopedHandle child(process.hProcess);
  ::WaitForSingleObject(child.Get(), INFINITE);
  DWORD exitCode = ~0u;
  ::GetExitCodeProcess(child.Get(), &exitCode);
  return exitCode;
}

bool FileExists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A host's view: the class by CLSID alone, from the installed file. The DLL
// is unloaded again so that a later step can replace or remove it.
void ExpectClassCreatable() {
  const std::wstring dll = std::wstring(kInstallFolder) + L"VplCMgr.dll";
  {
    ComPtr<IVesperlinePlugin> plugin;
    ASSERT_EQ(S_OK,
              ::CoCreateInstance(CLSID_ConfigMgrPlugin, nullptr,
                                 CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&plugin)));
    EXPECT_NE(nullptr, ::GetModuleHandleW(dll.c_str()));
    ScopedBstr name;
    ScopedBstr version;
    EXPECT_EQ(S_OK,
              plugin->GetPluginDetails(name.Receive(), version.Receive()));
    EXPECT_STREQ(L"Vesperline Microsoft ConfigMgr\\SMS Plugin", name.Get());
    EXPECT_EQ(0u, plugin.Reset());
  }
  ::CoFreeUnusedLibrariesEx(0, 0);
  EXPECT_EQ(nullptr, ::GetModuleHandleW(dll.c_str()));
}

void ExpectInstalled() {
  for (const std::wstring& file : PackageFiles()) {
    EXPECT_TRUE(FileExists(file)) << file.c_str();
  }
  EXPECT_EQ(ExpectedPackageRegistry(),
            ReadRegistryTrees(HKEY_CLASSES_ROOT, PackageRegistryPaths()));
  ScopedBstr libraryPath;
  EXPECT_EQ(S_OK, ::QueryPathOfRegTypeLib(LIBID_VplCMgrLib, 5, 5, 0x409,
                                          libraryPath.Receive()));
  EXPECT_STREQ((std::wstring(kInstallFolder) + L"VplCMgr.dll").c_str(),
               libraryPath.Get());
  ExpectClassCreatable();
}

void ExpectNothingInstalled() {
  EXPECT_TRUE(InstalledProducts().empty());
  for (const std::wstring& file : PackageFiles()) {
    EXPECT_FALSE(FileExists(file)) << file.c_str();
  }
  EXPECT_TRUE(
      ReadRegistryTrees(HKEY_CLASSES_ROOT, PackageRegistryPaths()).empty());
  EXPECT_TRUE(vpltest::RegistryKeyExists(HKEY_CLASSES_ROOT, L"CLSID"));
  EXPECT_TRUE(vpltest::RegistryKeyExists(HKEY_CLASSES_ROOT, L"AppID"));
  ComPtr<ITypeLib> library;
  EXPECT_EQ(TYPE_E_LIBNOTREGISTERED,
            ::LoadRegTypeLib(LIBID_VplCMgrLib, 5, 5, 0x409, &library));
}

class MsiPackageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(InstalledProducts().empty())
        << "the prefix holds an installed VplCMgr package";
    ASSERT_TRUE(
        ReadRegistryTrees(HKEY_CLASSES_ROOT, PackageRegistryPaths()).empty())
        << "the prefix holds a registration";
  }

  // Leaves the prefix without the package whatever the test did.
  void TearDown() override {
    for (const std::wstring& product : InstalledProducts()) {
      EXPECT_EQ(0u, RunProgram(L"msiexec.exe /x " + product + L" /qn"));
    }
    ExpectNothingInstalled();
  }
};

struct Step {
  const char* what;
  const wchar_t* command;  // followed by the quoted file
  const wchar_t* file;     // "current" or "older" package, or the installed DLL
  bool succeeds;
  const wchar_t* installedVersion;  // empty: nothing installed afterwards
};

TEST_F(MsiPackageTest, InstallUpgradeRefusedDowngradeAndUninstall) {
  const Step kSteps[] = {
      {"older build installs", L"msiexec /qn /i", L"older", true, L"6.0.400.0"},
      {"current build upgrades it", L"msiexec /qn /i", L"current", true,
       L"6.0.500.167"},
      // Registering the installed file writes nothing the package did not,
      // so uninstall still leaves nothing behind.
      {"regsvr32 changes nothing", L"regsvr32 /s", L"dll", true,
       L"6.0.500.167"},
      {"older build is refused", L"msiexec /qn /i", L"older", false,
       L"6.0.500.167"},
      {"uninstall removes everything", L"msiexec /qn /x", L"current", true,
       L""},
  };
  for (const Step& step : kSteps) {
    SCOPED_TRACE(step.what);
    const DWORD exitCode = RunProgram(std::wstring(step.command) + L" \"" +
                                      StepFile(step.file) + L"\"");
    EXPECT_EQ(step.succeeds, exitCode == 0) << "exit code " << exitCode;

    const std::vector<std::wstring> products = InstalledProducts();
    const std::wstring expectedVersion = step.installedVersion;
    if (expectedVersion.empty()) {
      ExpectNothingInstalled();
      continue;
    }
    // A major upgrade leaves exactly one product under the upgrade code.
    ASSERT_EQ(1u, products.size());
    EXPECT_EQ(expectedVersion, ProductVersion(products.front()));
    ExpectInstalled();
    if (HasFatalFailure()) return;
  }
}

}  // namespace
