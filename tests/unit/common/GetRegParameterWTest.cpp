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
using vpltest::TestRegistryKey;
using Lines = std::vector<std::string>;

class GetRegParameterWTest : public ::testing::Test {
 protected:
  GetRegParameterWTest()
      : m_key(vpltest::TestKeyPath()),
        m_path(m_key.Path().begin(), m_key.Path().end()) {}

  void SetWide(const wchar_t* name, const wchar_t* data, DWORD bytes) {
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, m_path.c_str(), name,
                                REG_SZ, data, bytes));
  }

  DebugFlagsScope m_flags{0};
  TestRegistryKey m_key;
  std::wstring m_path;
};

TEST_F(GetRegParameterWTest, TextTraceEndsWithCarriageReturnAndHexDump) {
  m_key.SetString("Name", "ab");
  const std::string prefix = m_key.Path() + "\\";
  DebugFlags.store(0x08);
  wchar_t text[16] = L"x";
  EXPECT_EQ(1u, GetRegParameterW(HKEY_LOCAL_MACHINE, m_path.c_str(), L"Name",
                                 REG_SZ, text, sizeof(text), 0x01));
  EXPECT_STREQ(L"ab", text);
  EXPECT_EQ((Lines{prefix + "Name=\"ab\" previous \"x\"\r", "\n"}),
            LogCapture::Messages());

  DebugFlags.store(0x108);
  LogCapture::Clear();
  wcscpy(text, L"x");
  GetRegParameterW(HKEY_LOCAL_MACHINE, m_path.c_str(), L"Name", REG_SZ, text,
                   sizeof(text), 0x41);
  EXPECT_EQ((Lines{prefix + "Name=\"ab\"\r",
                   " (Hex values: " + m_key.Path() + ", Name", "0x61", ",0x62",
                   ")", "\n"}),
            LogCapture::Messages());
}

TEST_F(GetRegParameterWTest, LongTextsAreCutInTheTrace) {
  const std::wstring stored(1001, L'a');
  SetWide(L"Long", stored.c_str(),
          static_cast<DWORD>((stored.size() + 1) * sizeof(wchar_t)));
  DebugFlags.store(0x108);
  std::vector<wchar_t> text(1100, L'\0');
  text[0] = L'x';
  EXPECT_EQ(1u, GetRegParameterW(HKEY_LOCAL_MACHINE, m_path.c_str(), L"Long",
                                 REG_SZ, text.data(),
                                 static_cast<DWORD>(text.size() * 2), 0x01));
  EXPECT_EQ(stored, text.data());
  EXPECT_EQ((Lines{m_key.Path() + "\\Long=\"" + std::string(1000, 'a') +
                       "...\" (len: 1001) previous \"x\" (len: 1)\r",
                   "\n"}),
            LogCapture::Messages());
}

TEST_F(GetRegParameterWTest, NumberTraceIsSigned) {
  m_key.SetDword("Number", 0xFFFFFFFF);
  DebugFlags.store(0x08);
  DWORD value = 0;
  EXPECT_EQ(1u, GetRegParameterW(HKEY_LOCAL_MACHINE, m_path.c_str(), L"Number",
                                 REG_DWORD, &value, sizeof(value), 0x01));
  EXPECT_EQ((Lines{m_key.Path() + "\\Number=-1 (0xffffffff) previous 0\n"}),
            LogCapture::Messages());
}

TEST_F(GetRegParameterWTest, MissingTextClearsTheWholeBufferWhenReadOnly) {
  wchar_t text[8] = L"abcdefg";
  GetRegParameterW(HKEY_LOCAL_MACHINE, m_path.c_str(), L"Missing", REG_SZ, text,
                   sizeof(text), 0x80);
  for (wchar_t c : text) EXPECT_EQ(L'\0', c);

  wchar_t written[8] = L"dflt";
  EXPECT_EQ(0u, GetRegParameterW(HKEY_LOCAL_MACHINE, m_path.c_str(), L"Written",
                                 REG_SZ, written, sizeof(written), 0));
  EXPECT_EQ("dflt", m_key.ReadString("Written"));
}

TEST_F(GetRegParameterWTest, TextIsTerminatedInsideTheBuffer) {
  SetWide(L"Bare", L"abcd", 8);
  wchar_t exact[4] = {L'd', L'f', L'l', L't'};
  EXPECT_EQ(static_cast<DWORD>(ERROR_MORE_DATA),
            GetRegParameterW(HKEY_LOCAL_MACHINE, m_path.c_str(), L"Bare",
                             REG_SZ, exact, sizeof(exact), 0));
  EXPECT_EQ(0, wmemcmp(exact, L"dflt", 4));
  wchar_t roomy[5] = L"dflt";
  EXPECT_EQ(1u, GetRegParameterW(HKEY_LOCAL_MACHINE, m_path.c_str(), L"Bare",
                                 REG_SZ, roomy, sizeof(roomy), 0));
  EXPECT_STREQ(L"abcd", roomy);
}

TEST_F(GetRegParameterWTest, NumberStoredAsTextAndExpandableText) {
  m_key.SetString("Count", "1440");
  DWORD value = 0;
  EXPECT_EQ(1u, GetRegParameterW(HKEY_LOCAL_MACHINE, m_path.c_str(), L"Count",
                                 REG_DWORD, &value, sizeof(value), 0));
  EXPECT_EQ(1440u, value);
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), m_key.TypeOf("Count"));

  ASSERT_TRUE(::SetEnvironmentVariableW(L"VPL_TEST_DIR", L"D:\\W"));
  wchar_t text[32] = L"%VPL_TEST_DIR%\\x";
  GetRegParameterW(HKEY_LOCAL_MACHINE, m_path.c_str(), L"Dir", REG_EXPAND_SZ,
                   text, sizeof(text), 0);
  EXPECT_STREQ(L"D:\\W\\x", text);
  EXPECT_EQ("%VPL_TEST_DIR%\\x", m_key.ReadString("Dir"));
  ::SetEnvironmentVariableW(L"VPL_TEST_DIR", nullptr);
}

TEST_F(GetRegParameterWTest, KeyThatCannotBeOpenedIsLogged) {
  const HKEY stale = m_key.ClosedHandle();
  DWORD value = 0;
  GetRegParameterW(stale, L"Sub", L"Name", REG_DWORD, &value, sizeof(value), 0);
  EXPECT_EQ((Lines{std::string("GetRegParameterW_4 ") +
                   FormatErrorText(ERROR_INVALID_HANDLE) + " - Sub\\Name\n"}),
            LogCapture::Messages());
}

}  // namespace
