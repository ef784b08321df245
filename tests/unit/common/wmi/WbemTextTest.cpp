#include "common/wmi/WbemText.h"

#include <gtest/gtest.h>

#include <string>

#include "common/ScopedThreadLocale.h"

namespace {

using NTarn::AnsiToBstr;
using NTarn::AnsiToWide;
using NTarn::MakeBstr;
using NTarn::ScopedBstr;
using NTarn::WideToAnsi;

TEST(WbemTextTest, NullAndEmptyTexts) {
  EXPECT_EQ(WideToAnsi(nullptr), "");
  EXPECT_EQ(WideToAnsi(L""), "");
  EXPECT_EQ(AnsiToWide(nullptr), L"");
  EXPECT_TRUE(AnsiToBstr(nullptr).IsNull());
  EXPECT_TRUE(MakeBstr(nullptr).IsNull());
  const ScopedBstr empty = AnsiToBstr("");
  ASSERT_FALSE(empty.IsNull());
  EXPECT_EQ(empty.Length(), 0u);
}

TEST(WbemTextTest, RoundTripsThroughTheAnsiCodePage) {
  EXPECT_EQ(WideToAnsi(L"root\\ccm"), "root\\ccm");
  EXPECT_EQ(AnsiToWide("SELECT * FROM CCM_Client"),
            L"SELECT * FROM CCM_Client");
  // Embedded NULs survive a counted conversion.
  EXPECT_EQ(WideToAnsi(L"a\0b", 3), std::string("a\0b", 3));
}

TEST(WbemTextTest, ConvertsThroughTheThreadsCodePage) {
  // Cyrillic Zhe is 0xC6 in code page 1251; the system's has no such letter.
  ASSERT_NE(::GetACP(), 1251u);
  const NTarn::ScopedThreadLocale russian(
      MAKELCID(MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT), SORT_DEFAULT));
  EXPECT_EQ(WideToAnsi(L"\x0416"), "\xC6");
  EXPECT_EQ(AnsiToWide("\xC6"), L"\x0416");
  EXPECT_EQ(std::wstring(AnsiToBstr("\xC6").Get()), L"\x0416");
}

TEST(WbemTextTest, LongTextsLeaveTheStackBuffer) {
  for (size_t length : {4094u, 4095u, 4096u, 4097u, 20000u}) {
    const std::string text(length, 'q');
    const ScopedBstr converted = AnsiToBstr(text.c_str());
    ASSERT_FALSE(converted.IsNull());
    EXPECT_EQ(converted.Length(), length);
    EXPECT_EQ(std::wstring(converted.Get(), converted.Length()),
              std::wstring(length, L'q'));
  }
}

}  // namespace
