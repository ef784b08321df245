#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "common/Logging.h"
#include "common/RegistryParameters.h"
#include "tests/support/DebugFlagsScope.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestRegistryKey.h"

namespace {

using namespace NTarn;

using vpltest::DebugFlagsScope;
using vpltest::LogCapture;
using vpltest::TestKeyPath;
using vpltest::TestRegistryKey;
using Lines = std::vector<std::string>;

std::wstring Wide(const std::string& text) {
  return std::wstring(text.begin(), text.end());
}

TEST(SetRegParameter, CreatesTheKeyAndReplacesTheValueWithATrace) {
  DebugFlagsScope flags(0x08);
  TestRegistryKey key(TestKeyPath(), /*create=*/false);
  // Texts are written with their terminator whatever size is passed.
  EXPECT_EQ(0u, SetRegParameter(HKEY_LOCAL_MACHINE, key.c_str(), "Text", REG_SZ,
                                "abc", 1, 0x02));
  EXPECT_EQ("abc", key.ReadString("Text"));
  const DWORD number = 5;
  EXPECT_EQ(0u, SetRegParameter(HKEY_LOCAL_MACHINE, key.c_str(), "Text",
                                REG_DWORD, &number, sizeof(number), 0x02));
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), key.TypeOf("Text"));
  EXPECT_EQ(5u, key.ReadDword("Text"));
  const std::string prefix = "Set " + key.Path() + "\\";
  EXPECT_EQ(
      (Lines{prefix + "Text=\"abc\"\n", prefix + "Text=5 (0x00000005)\n"}),
      LogCapture::Messages());

  LogCapture::Clear();
  SetRegParameter(HKEY_LOCAL_MACHINE, key.c_str(), "Quiet", REG_DWORD, &number,
                  sizeof(number), 0);
  DebugFlags.store(0);
  SetRegParameter(HKEY_LOCAL_MACHINE, key.c_str(), "Quiet", REG_DWORD, &number,
                  sizeof(number), 0x02);
  EXPECT_EQ(Lines{}, LogCapture::Messages());
}

TEST(SetRegParameter, WideFormWritesWideTexts) {
  DebugFlagsScope flags(0x08);
  TestRegistryKey key(TestKeyPath());
  const std::wstring path = Wide(key.Path());
  EXPECT_EQ(0u, SetRegParameter(HKEY_LOCAL_MACHINE, path.c_str(), L"Text",
                                REG_SZ, L"wide", 2, 0x02));
  EXPECT_EQ("wide", key.ReadString("Text"));
  const DWORD number = 0xFFFFFFFF;
  SetRegParameter(HKEY_LOCAL_MACHINE, path.c_str(), L"Number", REG_DWORD,
                  &number, sizeof(number), 0x02);
  const std::string prefix = "Set " + key.Path() + "\\";
  EXPECT_EQ(
      (Lines{prefix + "Text=\"wide\"\n", prefix + "Number=-1 (0xffffffff)\n"}),
      LogCapture::Messages());
}

TEST(SetRegParameter, KeyThatCannotBeCreatedIsLogged) {
  DebugFlagsScope flags(0);
  TestRegistryKey key(TestKeyPath());
  const HKEY stale = key.ClosedHandle();
  const DWORD number = 1;
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE),
            SetRegParameter(stale, "Sub", "Name", REG_DWORD, &number,
                            sizeof(number), 0));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE),
            SetRegParameter(stale, L"Sub", L"Name", REG_DWORD, &number,
                            sizeof(number), 0));
  const std::wstring wideText = FormatErrorTextW(ERROR_INVALID_HANDLE);
  EXPECT_EQ((Lines{std::string("SetRegParameter \"Sub\\Name\" - ") +
                       FormatErrorText(ERROR_INVALID_HANDLE) + "\n",
                   "SetRegParameter \"Sub\\Name\" - " +
                       std::string(wideText.begin(), wideText.end()) + "\n"}),
            LogCapture::Messages());
}

TEST(DeleteRegParameter, RemovesTheValueAndAlwaysReturnsOne) {
  TestRegistryKey key(TestKeyPath());
  key.SetDword("Gone", 1);
  key.SetDword("WideGone", 1);
  EXPECT_EQ(TRUE, DeleteRegParameter(HKEY_LOCAL_MACHINE, key.c_str(), "Gone"));
  EXPECT_FALSE(key.HasValue("Gone"));
  EXPECT_EQ(TRUE, DeleteRegParameter(HKEY_LOCAL_MACHINE,
                                     Wide(key.Path()).c_str(), L"WideGone"));
  EXPECT_FALSE(key.HasValue("WideGone"));
  EXPECT_EQ(TRUE, DeleteRegParameter(HKEY_LOCAL_MACHINE,
                                     (key.Path() + "\\Missing").c_str(), "x"));
}

TEST(IsTrueString, NarrowMatchesWholeWordsWideMatchesBeginnings) {
  for (const char* yes : {"ON", "on", "Yes", "TRUE", "1"}) {
    EXPECT_TRUE(IsTrueString(yes)) << yes;
  }
  for (const char* no : {"", "0", "off", "YES!", "10", "truely"}) {
    EXPECT_FALSE(IsTrueString(no)) << no;
  }
  EXPECT_FALSE(IsTrueString(static_cast<const char*>(nullptr)));
  for (const wchar_t* yes : {L"ON", L"yes", L"True", L"1", L"10", L"onward"}) {
    EXPECT_TRUE(IsTrueString(yes));
  }
  for (const wchar_t* no : {L"", L"0", L"off", L"N", L"tru"}) {
    EXPECT_FALSE(IsTrueString(no));
  }
}

}  // namespace
