#include "plugin/registration/Registrar.h"

#include <gtest/gtest.h>

#include "common/CurrentModule.h"
#include "common/ScopedHandle.h"
#include "plugin/Module.h"
#include "plugin/registration/RegistryReplacements.h"
#include "plugin/registration/RegistryScriptParser.h"
#include "plugin/registration/RegistryScriptResource.h"
#include "plugin/resource.h"
#include "tests/support/RegistrationTables.h"
#include "tests/support/RegistryTree.h"
#include "tests/support/TestRegistryKey.h"

namespace registration {
namespace {

using namespace NTarn;

using vpltest::ReadRegistryTree;
using vpltest::ReadRegistryTrees;
using vpltest::RegisteredPaths;

constexpr char kScratchPath[] = "Software\\VplCMgrTests\\Registrar";
// A path with a space and a quote, which must reach the registry unchanged.
constexpr wchar_t kModulePath[] = L"C:\\Program Files\\It's\\VplCMgr.dll";

// Runs the module's real scripts (linked into this program) below a scratch
// key standing in for the classes root.
class RegistrarTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_root = m_scratch.Open();
    ASSERT_TRUE(m_root);
    ASSERT_EQ(S_OK, Module().AddCommonRGSReplacements(&m_replacements));
    m_replacements.Add(L"MODULE", kModulePath);
  }

  HRESULT Run(ScriptAction action) {
    HRESULT hr = RunRegistryScript(GetCurrentModule(), IDR_VPLCMGR, action,
                                   m_replacements, m_root.Get());
    if (FAILED(hr)) return hr;
    return RunRegistryScript(GetCurrentModule(), IDR_CONFIGMGRPLUGIN, action,
                             m_replacements, m_root.Get());
  }

  std::vector<std::wstring> Everything() const {
    std::vector<std::wstring> lines = ReadRegistryTree(m_root.Get(), L"");
    lines.erase(lines.begin());  // the scratch root itself
    return lines;
  }

  void CreateKey(const std::wstring& path) {
    ScopedRegKey key;
    ASSERT_EQ(
        ERROR_SUCCESS,
        ::RegCreateKeyExW(m_root.Get(), path.c_str(), 0, nullptr, 0,
                          KEY_ALL_ACCESS, nullptr, key.Receive(), nullptr));
  }

  vpltest::TestRegistryKey m_scratch{kScratchPath, true, HKEY_CURRENT_USER};
  ScopedRegKey m_root;
  RegistryReplacements m_replacements;
};

std::vector<std::wstring> WithSeparator(std::vector<std::wstring> lines) {
  for (std::wstring& line : lines) line.insert(0, L"\\");
  return lines;
}

TEST_F(RegistrarTest, ScriptsWriteExactlyTheTablesAndRemoveAllButTheRoots) {
  ASSERT_EQ(S_OK, Run(ScriptAction::kRegister));
  std::vector<std::wstring> expected =
      WithSeparator(vpltest::ExpectedRegistration(kModulePath));
  expected.insert(expected.begin(), {L"\\AppID", L"\\CLSID"});
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, Everything());

  // Registering again over an existing registration changes nothing.
  ASSERT_EQ(S_OK, Run(ScriptAction::kRegister));
  EXPECT_EQ(expected, Everything());

  EXPECT_EQ(S_OK, Run(ScriptAction::kUnregister));
  EXPECT_EQ((std::vector<std::wstring>{L"\\AppID", L"\\CLSID"}), Everything());

  // Nothing left to remove is no failure.
  EXPECT_EQ(S_OK, Run(ScriptAction::kUnregister));
}

TEST_F(RegistrarTest, ClassKeyIsRecreatedWithoutStaleSubkeys) {
  const std::wstring classKey =
      std::wstring(L"CLSID\\") + vpltest::kPluginClsid;
  CreateKey(classKey + L"\\LocalServer32");
  CreateKey(classKey + L"\\Programmable\\Stale");
  ASSERT_EQ(S_OK, Run(ScriptAction::kRegister));
  EXPECT_EQ(vpltest::ExpectedRegistration(kModulePath),
            ReadRegistryTrees(m_root.Get(), RegisteredPaths()));
}

TEST_F(RegistrarTest, KeysOthersStillUseKeepTheirForeignSubkeys) {
  ASSERT_EQ(S_OK, Run(ScriptAction::kRegister));
  CreateKey(L"VplCMgr.ConfigMgrPlugin\\Foreign");
  CreateKey(L"AppID\\Other");
  const std::wstring foreignCategory =
      std::wstring(L"CLSID\\") + vpltest::kPluginClsid +
      L"\\Implemented Categories\\{00000000-0000-0000-0000-000000000001}";
  CreateKey(foreignCategory);

  EXPECT_EQ(S_OK, Run(ScriptAction::kUnregister));
  // The ProgID key stays for its foreign subkey but loses the script's
  // default value; the class key goes whole, whatever is below it.
  EXPECT_EQ((std::vector<std::wstring>{L"\\AppID", L"\\AppID\\Other",
                                       L"\\CLSID", L"\\VplCMgr.ConfigMgrPlugin",
                                       L"\\VplCMgr.ConfigMgrPlugin\\Foreign"}),
            Everything());
}

TEST_F(RegistrarTest, RegistrationStopsAtTheFirstFailureAndUnregisterCleansUp) {
  vpltest::CreateKeyDenyingSetValue(m_root.Get(),
                                    L"VplCMgr.ConfigMgrPlugin\\CurVer");
  if (HasFatalFailure()) return;

  EXPECT_EQ(E_ACCESSDENIED, Run(ScriptAction::kRegister));
  // Written before the failing key: the AppID script and the first ProgID.
  EXPECT_FALSE(
      ReadRegistryTree(m_root.Get(), L"VplCMgr.ConfigMgrPlugin.1").empty());
  EXPECT_FALSE(ReadRegistryTree(m_root.Get(), L"AppID\\VplCMgr.DLL").empty());
  // Never reached: the class key.
  EXPECT_FALSE(vpltest::RegistryKeyExists(
      m_root.Get(), std::wstring(L"CLSID\\") + vpltest::kPluginClsid));

  // Removal needs no right to write values, so the locked key goes too; the
  // CLSID root was never reached and is not created by removal.
  EXPECT_EQ(S_OK, Run(ScriptAction::kUnregister));
  EXPECT_EQ((std::vector<std::wstring>{L"\\AppID"}), Everything());
}

TEST(RegistryScriptResource, LoadsTheModulesScriptsAndRejectsMissingOnes) {
  std::wstring text;
  ASSERT_EQ(S_OK,
            LoadRegistryScriptText(GetCurrentModule(), IDR_VPLCMGR, &text));
  EXPECT_EQ(0u, text.find(L"HKCR"));
  EXPECT_NE(std::wstring::npos, text.find(L"'%APPID%' = s 'VplCMgr'"));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND),
            LoadRegistryScriptText(GetCurrentModule(), 4242, &text));
  EXPECT_TRUE(text.empty());
}

}  // namespace
}  // namespace registration
