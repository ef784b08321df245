// The installer package as an administrator deploys, upgrades and removes it.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <algorithm>
#include <cwchar>
#include <map>
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
using vpltest::ReadRegistryTrees;
using vpltest::RunProgram;

constexpr wchar_t kUpgradeCode[] = L"{ADA4521E-3A71-4F06-B251-30FBFD454C77}";
constexpr wchar_t kInstallFolder[] = L"C:\\Program Files\\VplCMgr\\";
constexpr wchar_t kSettingsKey[] = L"Software\\Tarn\\Vesperline";
const std::wstring kDll = std::wstring(kInstallFolder) + L"VplCMgr.dll";

// "current" or "older" package as Wine's Z: drive shows it, or the DLL.
std::wstring StepFile(const std::wstring& name) {
  if (name == L"dll") return kDll;
  std::wstring path = name == L"current" ? VPL_MSI_CURRENT : VPL_MSI_OLDER;
  std::replace(path.begin(), path.end(), L'/', L'\\');
  return path;
}

std::vector<std::wstring> PackageFiles() {
  wchar_t windows[MAX_PATH] = {};
  ::GetWindowsDirectoryW(windows, MAX_PATH);
  const std::wstring policy = std::wstring(windows) + L"\\PolicyDefinitions\\";
  return {kDll, std::wstring(kInstallFolder) + L"vplhost.exe",
          policy + L"VplCMgr.admx", policy + L"en-US\\VplCMgr.adml"};
}

// The registration scripts' keys plus what RegisterTypeLib records.
std::vector<std::wstring> ExpectedPackageRegistry() {
  const std::wstring lib = std::wstring(L"TypeLib\\") + vpltest::kPluginLibId;
  std::vector<std::wstring> lines = vpltest::ExpectedRegistration(kDll);
  lines.insert(
      lines.end(),
      {lib, lib + L"\\5.5", lib + L"\\5.5|@=VplCMgrLib", lib + L"\\5.5\\409",
       lib + L"\\5.5\\409\\win64", lib + L"\\5.5\\409\\win64|@=" + kDll,
       lib + L"\\5.5\\FLAGS", lib + L"\\5.5\\FLAGS|@=8",
       lib + L"\\5.5\\HELPDIR",
       lib + L"\\5.5\\HELPDIR|@=" + kDll.substr(0, kDll.rfind(L'\\'))});
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
  for (DWORD i = 0;
       ::MsiEnumRelatedProductsW(kUpgradeCode, 0, i, product) == ERROR_SUCCESS;
       ++i) {
    products.push_back(product);
  }
  return products;
}

// The machine's settings as "Name=text" and "Name=#number", sorted; empty
// when the key does not exist.
std::vector<std::wstring> MachineSettings() {
  std::vector<std::wstring> lines;
  NTarn::ScopedRegKey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ,
                      key.Receive()) != ERROR_SUCCESS) {
    return lines;
  }
  wchar_t name[64];
  BYTE data[256];
  for (DWORD i = 0;; ++i) {
    DWORD nameLength = ARRAYSIZE(name);
    DWORD type = 0;
    DWORD size = sizeof(data);
    if (::RegEnumValueW(key.Get(), i, name, &nameLength, nullptr, &type, data,
                        &size) != ERROR_SUCCESS) {
      break;
    }
    lines.push_back(
        std::wstring(name) + L"=" +
        (type == REG_DWORD
             ? L"#" + std::to_wstring(*reinterpret_cast<DWORD*>(data))
             : std::wstring(reinterpret_cast<wchar_t*>(data))));
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

bool FileExists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
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
  EXPECT_STREQ(kDll.c_str(), libraryPath.Get());
  // A host's view: the class by CLSID alone, from the installed file, which
  // is unloaded again so that a later step can replace or remove it.
  {
    ComPtr<IVesperlinePlugin> plugin;
    ASSERT_EQ(S_OK,
              ::CoCreateInstance(CLSID_ConfigMgrPlugin, nullptr,
                                 CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&plugin)));
    EXPECT_NE(nullptr, ::GetModuleHandleW(kDll.c_str()));
    ScopedBstr name;
    ScopedBstr version;
    EXPECT_EQ(S_OK,
              plugin->GetPluginDetails(name.Receive(), version.Receive()));
    EXPECT_STREQ(L"Vesperline Microsoft ConfigMgr\\SMS Plugin", name.Get());
    EXPECT_EQ(0u, plugin.Reset());
  }
  ::CoFreeUnusedLibrariesEx(0, 0);
  EXPECT_EQ(nullptr, ::GetModuleHandleW(kDll.c_str()));
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

TEST_F(MsiPackageTest, InstallUpgradeRefusedDowngradeAndUninstall) {
  const struct {
    const char* what;
    const wchar_t* command;  // followed by the quoted StepFile
    const wchar_t* file;
    bool succeeds;
    const wchar_t* installedVersion;  // empty: nothing installed afterwards
  } kSteps[] = {
      {"older build installs", L"msiexec /qn /i", L"older", true, L"6.0.400.0"},
      {"current build upgrades it", L"msiexec /qn /i", L"current", true,
       L"6.0.500.167"},
      // Registering the installed file writes nothing the package did not.
      {"regsvr32 changes nothing", L"regsvr32 /s", L"dll", true,
       L"6.0.500.167"},
      {"older build is refused", L"msiexec /qn /i", L"older", false,
       L"6.0.500.167"},
      {"uninstall removes everything", L"msiexec /qn /x", L"current", true,
       L""},
  };
  for (const auto& step : kSteps) {
    SCOPED_TRACE(step.what);
    const DWORD exitCode = RunProgram(std::wstring(step.command) + L" \"" +
                                      StepFile(step.file) + L"\"");
    EXPECT_EQ(step.succeeds, exitCode == 0) << "exit code " << exitCode;
    if (!*step.installedVersion) {
      ExpectNothingInstalled();
      continue;
    }
    // A major upgrade leaves exactly one product under the upgrade code.
    const std::vector<std::wstring> products = InstalledProducts();
    ASSERT_EQ(1u, products.size());
    wchar_t version[64] = {};
    DWORD length = ARRAYSIZE(version);
    EXPECT_EQ(ERROR_SUCCESS, ::MsiGetProductInfoW(products.front().c_str(),
                                                  INSTALLPROPERTY_VERSIONSTRING,
                                                  version, &length));
    EXPECT_STREQ(step.installedVersion, version);
    ExpectInstalled();
    if (HasFatalFailure()) return;
  }
}

// Settings given as properties are written, and stay with the machine
// through an upgrade without them and an uninstall; a package given none
// writes none, and one given a value the plug-in does not take is refused.
TEST_F(MsiPackageTest, SettingsComeFromTheCommandLineAndStayWithTheMachine) {
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Tarn");
  const std::vector<std::wstring> kGiven = {
      L"LogOffAction=passive", L"MaintenanceWindows=on",
      L"MonitorJobs=ON",       L"PendingSMSJobWindowMins=#30",
      L"RetryAttempts=#2",     L"RetryInterval=#0",
      L"StaleJobHours=#48"};
  // `command` is followed by the quoted StepFile, then `properties`;
  // `clearFirst` removes the settings key before the step.
  // clang-format off
  const struct { const char* what; const wchar_t* command; const wchar_t* file; const wchar_t* properties;
                 bool succeeds; bool clearFirst; std::vector<std::wstring> settings; } kSteps[] = {
      {"older build with every setting", L"msiexec /qn /i", L"older",
       L" MONITORJOBS=ON PENDINGJOBWINDOW=30 LOGOFFACTION=passive RETRYATTEMPTS=2 RETRYINTERVAL=0 STALEJOBHOURS=48"
       L" MAINTENANCEWINDOWS=on",
       true, false, kGiven},
      {"upgrade without them keeps them", L"msiexec /qn /i", L"current", L"", true, false, kGiven},
      {"uninstall leaves them", L"msiexec /qn /x", L"current", L"", true, false, kGiven},
      {"install without any writes none", L"msiexec /qn /i", L"current", L"", true, true, {}},
      {"uninstall", L"msiexec /qn /x", L"current", L"", true, false, {}},
      {"report-only mode", L"msiexec /qn /i", L"current", L" VETOMODE=report", true, true, {L"VetoMode=report"}},
      {"uninstall leaves it", L"msiexec /qn /x", L"current", L"", true, false, {L"VetoMode=report"}},
      {"an unknown veto mode is refused", L"msiexec /qn /i", L"current", L" VETOMODE=PILOT", false, true, {}},
      {"an unknown logoff action is refused", L"msiexec /qn /i", L"current", L" MONITORJOBS=ON LOGOFFACTION=SOMETIMES", false, false, {}},
      {"a window switch that is neither is refused", L"msiexec /qn /i", L"current", L" MAINTENANCEWINDOWS=YES", false, false, {}},
      {"a number that is none is refused", L"msiexec /qn /i", L"current", L" RETRYATTEMPTS=two", false, false, {}},
      {"a window above a week is refused", L"msiexec /qn /i", L"current", L" PENDINGJOBWINDOW=10081", false, false, {}},
      // The largest values and OFF are taken.
      {"the largest values", L"msiexec /qn /i", L"current",
       L" MONITORJOBS=OFF PENDINGJOBWINDOW=10080 RETRYATTEMPTS=100 RETRYINTERVAL=1440 STALEJOBHOURS=8760",
       true, false, {L"MonitorJobs=OFF", L"PendingSMSJobWindowMins=#10080", L"RetryAttempts=#100", L"RetryInterval=#1440", L"StaleJobHours=#8760"}},
      // The package installed: a run that writes a value checks it too.
      {"a re-run with a bad window is refused", L"msiexec /qn /i", L"current", L" PENDINGJOBWINDOW=abc", false, false,
       {L"MonitorJobs=OFF", L"PendingSMSJobWindowMins=#10080", L"RetryAttempts=#100", L"RetryInterval=#1440", L"StaleJobHours=#8760"}},
      {"a reinstall with a bad switch is refused", L"msiexec /qn /i", L"current", L" REINSTALL=ALL MONITORJOBS=MAYBE", false, false,
       {L"MonitorJobs=OFF", L"PendingSMSJobWindowMins=#10080", L"RetryAttempts=#100", L"RetryInterval=#1440", L"StaleJobHours=#8760"}},
      {"a re-run with negative hours is refused", L"msiexec /qn /i", L"current", L" STALEJOBHOURS=-1", false, false,
       {L"MonitorJobs=OFF", L"PendingSMSJobWindowMins=#10080", L"RetryAttempts=#100", L"RetryInterval=#1440", L"StaleJobHours=#8760"}},
      {"a re-run with a good value writes it", L"msiexec /qn /i", L"current", L" REINSTALL=ALL STALEJOBHOURS=0", true, false,
       {L"MonitorJobs=OFF", L"PendingSMSJobWindowMins=#10080", L"RetryAttempts=#100", L"RetryInterval=#1440", L"StaleJobHours=#0"}},
      {"uninstall", L"msiexec /qn /x", L"current", L"", true, false,
       {L"MonitorJobs=OFF", L"PendingSMSJobWindowMins=#10080", L"RetryAttempts=#100", L"RetryInterval=#1440", L"StaleJobHours=#0"}},
  };
  // clang-format on
  for (const auto& step : kSteps) {
    SCOPED_TRACE(step.what);
    if (step.clearFirst)
      ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Tarn");
    const DWORD exitCode =
        RunProgram(std::wstring(step.command) + L" \"" + StepFile(step.file) +
                   L"\"" + step.properties);
    EXPECT_EQ(step.succeeds, exitCode == 0) << "exit code " << exitCode;
    EXPECT_EQ(step.settings, MachineSettings());
  }
  EXPECT_TRUE(InstalledProducts().empty());
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Tarn");
}

// Rows of a query on the built package's own tables, each row's fields
// joined by '|'.
std::vector<std::wstring> PackageRows(const wchar_t* query) {
  std::vector<std::wstring> rows;
  MSIHANDLE database = 0;
  if (::MsiOpenDatabaseW(StepFile(L"current").c_str(), MSIDBOPEN_READONLY,
                         &database) != ERROR_SUCCESS)
    return rows;
  MSIHANDLE view = 0;
  if (::MsiDatabaseOpenViewW(database, query, &view) == ERROR_SUCCESS &&
      ::MsiViewExecute(view, 0) == ERROR_SUCCESS) {
    MSIHANDLE record = 0;
    while (::MsiViewFetch(view, &record) == ERROR_SUCCESS) {
      std::wstring row;
      for (UINT field = 1; field <= ::MsiRecordGetFieldCount(record); ++field) {
        wchar_t text[1024] = {};
        DWORD length = ARRAYSIZE(text);
        ::MsiRecordGetStringW(record, field, text, &length);
        row += (field > 1 ? L"|" : L"") + std::wstring(text);
      }
      rows.push_back(row);
      ::MsiCloseHandle(record);
    }
    ::MsiViewClose(view);
  }
  if (view) ::MsiCloseHandle(view);
  ::MsiCloseHandle(database);
  std::sort(rows.begin(), rows.end());
  return rows;
}

// What Windows relies on and Wine does not enforce: each setting's
// component is installed only when its property is given and is permanent
// (msidbComponentAttributesPermanent, 16, with 64-bit, 256), and every
// property reaches the elevated part of the installation.
TEST(MsiPackageTables, SettingsArePermanentConditionalAndSecure) {
  const std::vector<std::wstring> kProperties = {
      L"LOGOFFACTION",     L"MAINTENANCEWINDOWS", L"MONITORJOBS",
      L"PENDINGJOBWINDOW", L"RETRYATTEMPTS",      L"RETRYINTERVAL",
      L"STALEJOBHOURS",    L"VETOMODE"};
  std::vector<std::wstring> expected;
  for (const std::wstring& property : kProperties)
    expected.push_back(property + L"|permanent|" + property);
  // Component -> "Attributes|Condition".
  std::map<std::wstring, std::wstring> componentRows;
  for (const std::wstring& row : PackageRows(
           L"SELECT `Component`, `Attributes`, `Condition` FROM `Component`"))
    componentRows[row.substr(0, row.find(L'|'))] =
        row.substr(row.find(L'|') + 1);
  std::vector<std::wstring> components;
  for (const std::wstring& row : PackageRows(
           L"SELECT `Component_`, `Value` FROM `Registry` WHERE `Root` = 2")) {
    // "[PROPERTY]" or "#[PROPERTY]": the property the value formats.
    const size_t open = row.find(L'[');
    const size_t close = row.find(L']');
    const std::wstring property = row.substr(open + 1, close - open - 1);
    const std::wstring component = componentRows[row.substr(0, row.find(L'|'))];
    const unsigned long attributes =
        std::wcstoul(component.c_str(), nullptr, 10);
    components.push_back(property + L"|" +
                         ((attributes & 16) ? L"permanent" : L"removable") +
                         component.substr(component.find(L'|')));
  }
  std::sort(components.begin(), components.end());
  EXPECT_EQ(expected, components);
  const std::vector<std::wstring> secure = PackageRows(
      L"SELECT `Value` FROM `Property` WHERE `Property` = "
      L"'SecureCustomProperties'");
  ASSERT_EQ(1u, secure.size());
  std::vector<std::wstring> listed;
  for (size_t start = 0; start <= secure[0].size();) {
    const size_t end = std::min(secure[0].find(L';', start), secure[0].size());
    listed.push_back(secure[0].substr(start, end - start));
    start = end + 1;
  }
  // Besides those of wixl's own upgrade handling.
  for (const std::wstring& property : kProperties) {
    EXPECT_NE(std::find(listed.begin(), listed.end(), property), listed.end())
        << property.c_str();
  }
}

}  // namespace
