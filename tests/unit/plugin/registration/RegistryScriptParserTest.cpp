#include "plugin/registration/RegistryScriptParser.h"

#include <gtest/gtest.h>

#include "plugin/registration/RegistryReplacements.h"

namespace registration {
namespace {

HRESULT ParseText(const std::wstring& text, RegistryScript* script) {
  RegistryReplacements replacements;
  replacements.Add(L"APPID", L"{0D433AD8-6F36-49BC-8D55-B88FFD0D0C6F}");
  replacements.Add(L"MODULE", L"C:\\Program Files\\It's {x}\\VplCMgr.dll");
  return RegistryScriptParser(text, replacements).Parse(script);
}

TEST(RegistryScriptParser, ReadsKeysValuesModifiersAndReplacements) {
  RegistryScript script;
  ASSERT_EQ(S_OK, ParseText(LR"(
    HKCR
    {
      NoRemove AppID
      {
        '%APPID%' = s 'VplCMgr'
      }
      NoRemove CLSID
      {
        ForceRemove {7FAE74E0-D06E-4A5C-A4BB-5EDF2FB6A893} = s 'A ''quoted'' name'
        {
          ForceRemove Programmable
          InprocServer32 = s '%MODULE%'
          {
            val ThreadingModel = s 'Free'
            val 'Percent' = s '100%%'
          }
          'Implemented Categories'
          {
            {248D1B52-34E7-435b-8A9C-2288F96CD2B5}
          }
        }
      }
    })",
                            &script));

  ASSERT_EQ(2u, script.size());
  const RegistryScriptKey& appIdRoot = script[0];
  EXPECT_EQ(L"AppID", appIdRoot.name);
  EXPECT_TRUE(appIdRoot.noRemove);
  EXPECT_FALSE(appIdRoot.forceRemove);
  EXPECT_FALSE(appIdRoot.defaultValue);
  ASSERT_EQ(1u, appIdRoot.subkeys.size());
  EXPECT_EQ(L"{0D433AD8-6F36-49BC-8D55-B88FFD0D0C6F}",
            appIdRoot.subkeys[0].name);
  EXPECT_EQ(L"VplCMgr", appIdRoot.subkeys[0].defaultValue.value_or(L"?"));

  ASSERT_EQ(1u, script[1].subkeys.size());
  const RegistryScriptKey& clsid = script[1].subkeys[0];
  EXPECT_TRUE(clsid.forceRemove);
  EXPECT_FALSE(clsid.noRemove);
  EXPECT_EQ(L"A 'quoted' name", clsid.defaultValue.value_or(L"?"));
  ASSERT_EQ(3u, clsid.subkeys.size());

  EXPECT_EQ(L"Programmable", clsid.subkeys[0].name);
  EXPECT_TRUE(clsid.subkeys[0].forceRemove);
  EXPECT_FALSE(clsid.subkeys[0].defaultValue);
  EXPECT_TRUE(clsid.subkeys[0].subkeys.empty());

  const RegistryScriptKey& server = clsid.subkeys[1];
  EXPECT_EQ(L"InprocServer32", server.name);
  // A replacement with spaces, a quote and braces is data, not syntax.
  EXPECT_EQ(L"C:\\Program Files\\It's {x}\\VplCMgr.dll",
            server.defaultValue.value_or(L"?"));
  ASSERT_EQ(2u, server.values.size());
  EXPECT_EQ(L"ThreadingModel", server.values[0].name);
  EXPECT_EQ(L"Free", server.values[0].data);
  EXPECT_EQ(L"Percent", server.values[1].name);
  EXPECT_EQ(L"100%", server.values[1].data);
  EXPECT_TRUE(server.subkeys.empty());

  const RegistryScriptKey& categories = clsid.subkeys[2];
  EXPECT_EQ(L"Implemented Categories", categories.name);
  ASSERT_EQ(1u, categories.subkeys.size());
  EXPECT_EQ(L"{248D1B52-34E7-435b-8A9C-2288F96CD2B5}",
            categories.subkeys[0].name);
}

TEST(RegistryScriptParser, AcceptsAnEmptyScriptAndTheLongRootName) {
  RegistryScript script{RegistryScriptKey{}};
  EXPECT_EQ(S_OK, ParseText(L"  \r\n\t ", &script));
  EXPECT_TRUE(script.empty());
  EXPECT_EQ(S_OK, ParseText(L"HKEY_CLASSES_ROOT { Key }", &script));
  ASSERT_EQ(1u, script.size());
  EXPECT_EQ(L"Key", script[0].name);
}

TEST(RegistryScriptParser, RejectsMalformedScripts) {
  const wchar_t* const kMalformed[] = {
      L"HKCR { Key",                            // block never closed
      L"HKCR { Key = s 'Data }",                // quote never closed
      L"HKCR { Key = s 'x' { 'unterminated }",  // quote never closed inside
      L"HKLM { Key }",                          // only the classes root
      L"HKCR Key",                              // root without a block
      L"HKCR { Key = d '5' }",                  // only string data
      L"HKCR { Key = s }",                      // data missing
      L"HKCR { Key = s '%UNKNOWN%' }",          // unknown replacement
      L"HKCR { '%MODULE' }",                    // replacement never closed
      L"HKCR { '' }",                           // empty key name
      L"HKCR { Key { val Name s 'x' } }",       // value without '='
      L"HKCR { = s 'x' }",                      // value without key
      L"HKCR { Key } }",                        // stray closing brace
  };
  for (const wchar_t* text : kMalformed) {
    RegistryScript script;
    EXPECT_EQ(kRegistryScriptSyntaxError, ParseText(text, &script)) << text;
  }
}

}  // namespace
}  // namespace registration
