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

class GetRegParameterTest : public ::testing::Test {
 protected:
  DebugFlagsScope m_flags{0};
};

TEST_F(GetRegParameterTest, MissingNumberIsCreatedClearedOrKeptByMode) {
  TestRegistryKey key(TestKeyPath());
  DWORD value = 42;
  EXPECT_EQ(0u, GetRegParameter(HKEY_LOCAL_MACHINE, key.c_str(), "Created",
                                REG_DWORD, &value, sizeof(value), 0));
  EXPECT_EQ(42u, value);
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), key.TypeOf("Created"));
  EXPECT_EQ(42u, key.ReadDword("Created"));

  value = 42;
  EXPECT_EQ(0u, GetRegParameter(HKEY_LOCAL_MACHINE, key.c_str(), "Cleared",
                                REG_DWORD, &value, sizeof(value), 0x80));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), ::GetLastError());
  EXPECT_EQ(0u, value);
  EXPECT_FALSE(key.HasValue("Cleared"));

  value = 42;
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND),
            GetRegParameter(HKEY_LOCAL_MACHINE, key.c_str(), "Kept", REG_DWORD,
                            &value, sizeof(value), 0x90));
  EXPECT_EQ(42u, value);
  EXPECT_FALSE(key.HasValue("Kept"));
  EXPECT_TRUE(LogCapture::Messages().empty());
}

TEST_F(GetRegParameterTest, MissingKeyIsCreatedOnlyInReadWriteMode) {
  TestRegistryKey key(TestKeyPath(), /*create=*/false);
  DWORD value = 42;
  EXPECT_EQ(0u, GetRegParameter(HKEY_LOCAL_MACHINE, key.c_str(), "Value",
                                REG_DWORD, &value, sizeof(value), 0x80));
  EXPECT_EQ(42u, value);
  EXPECT_FALSE(key.Exists());

  EXPECT_EQ(0u, GetRegParameter(HKEY_LOCAL_MACHINE, key.c_str(), "Value",
                                REG_DWORD, &value, sizeof(value), 0));
  EXPECT_EQ(42u, key.ReadDword("Value"));
  EXPECT_TRUE(LogCapture::Messages().empty());
}

TEST_F(GetRegParameterTest, NumberStoredAsTextIsRepairedOnlyInReadWriteMode) {
  TestRegistryKey key(TestKeyPath());
  key.SetString("Window", "120");
  DWORD value = 7;
  EXPECT_EQ(1u, GetRegParameter(HKEY_LOCAL_MACHINE, key.c_str(), "Window",
                                REG_DWORD, &value, sizeof(value), 0x80));
  EXPECT_EQ(120u, value);
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), key.TypeOf("Window"));

  value = 7;
  EXPECT_EQ(1u, GetRegParameter(HKEY_LOCAL_MACHINE, key.c_str(), "Window",
                                REG_DWORD, &value, sizeof(value), 0));
  EXPECT_EQ(120u, value);
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), key.TypeOf("Window"));
  EXPECT_EQ(120u, key.ReadDword("Window"));

  // Longer texts than the four bytes of the number still convert; only a text
  // beyond the 80 bytes read for conversion is refused.
  key.SetString("Long", "4294967295");
  value = 7;
  EXPECT_EQ(1u, GetRegParameter(HKEY_LOCAL_MACHINE, key.c_str(), "Long",
                                REG_DWORD, &value, sizeof(value), 0));
  EXPECT_EQ(4294967295u, value);
  EXPECT_EQ(4294967295u, key.ReadDword("Long"));
  key.SetString("Huge", std::string(80, '1'));
  value = 7;
  EXPECT_EQ(static_cast<DWORD>(ERROR_MORE_DATA),
            GetRegParameter(HKEY_LOCAL_MACHINE, key.c_str(), "Huge", REG_DWORD,
                            &value, sizeof(value), 0));
  EXPECT_EQ(7u, value);
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), key.TypeOf("Huge"));
}

TEST_F(GetRegParameterTest, ValueOfAnotherTypeIsReplacedOnlyInReadWriteMode) {
  TestRegistryKey key(TestKeyPath());
  const BYTE bytes[2] = {1, 2};
  key.SetRaw("Odd", REG_BINARY, bytes, sizeof(bytes));
  DWORD value = 7;
  EXPECT_EQ(0u, GetRegParameter(HKEY_LOCAL_MACHINE, key.c_str(), "Odd",
                                REG_DWORD, &value, sizeof(value), 0x80));
  EXPECT_EQ(7u, value);
  EXPECT_EQ(static_cast<DWORD>(REG_BINARY), key.TypeOf("Odd"));

  EXPECT_EQ(0u, GetRegParameter(HKEY_LOCAL_MACHINE, key.c_str(), "Odd",
                                REG_DWORD, &value, sizeof(value), 0));
  EXPECT_EQ(7u, value);
  EXPECT_EQ(7u, key.ReadDword("Odd"));

  key.SetDword("Name", 5);
  char text[16] = "dflt";
  EXPECT_EQ(0u, GetRegParameter(HKEY_LOCAL_MACHINE, key.c_str(), "Name", REG_SZ,
                                text, sizeof(text), 0));
  EXPECT_STREQ("dflt", text);
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), key.TypeOf("Name"));
  EXPECT_EQ("dflt", key.ReadString("Name"));
}

TEST_F(GetRegParameterTest, TextChangeIgnoresCase) {
  TestRegistryKey key(TestKeyPath());
  key.SetString("Text", "Hello");
  char text[16] = "hello";
  EXPECT_EQ(0u, GetRegParameter(HKEY_LOCAL_MACHINE, key.c_str(), "Text", REG_SZ,
                                text, sizeof(text), 0));
  EXPECT_STREQ("Hello", text);
  key.SetString("Text", "World");
  EXPECT_EQ(1u, GetRegParameter(HKEY_LOCAL_MACHINE, key.c_str(), "Text", REG_SZ,
                                text, sizeof(text), 0));
  EXPECT_STREQ("World", text);
}

TEST_F(GetRegParameterTest, TextMustFitTheBufferWithItsTerminator) {
  TestRegistryKey key(TestKeyPath());
  char text[6] = "dflt";
  key.SetString("Long", "123456");
  EXPECT_EQ(static_cast<DWORD>(ERROR_MORE_DATA),
            GetRegParameter(HKEY_LOCAL_MACHINE, key.c_str(), "Long", REG_SZ,
                            text, sizeof(text), 0));
  EXPECT_EQ(static_cast<DWORD>(ERROR_MORE_DATA), ::GetLastError());
  EXPECT_STREQ("dflt", text);

  key.SetString("Exact", "12345");
  EXPECT_EQ(1u, GetRegParameter(HKEY_LOCAL_MACHINE, key.c_str(), "Exact",
                                REG_SZ, text, sizeof(text), 0));
  EXPECT_STREQ("12345", text);

  // Stored without a terminator: six characters need seven bytes.
  char unterminated[6] = {'d', 'f', 'l', 't', '-', '-'};
  key.SetRaw("Bare", REG_SZ, "123456", 6);
  EXPECT_EQ(static_cast<DWORD>(ERROR_MORE_DATA),
            GetRegParameter(HKEY_LOCAL_MACHINE, key.c_str(), "Bare", REG_SZ,
                            unterminated, sizeof(unterminated), 0));
  EXPECT_EQ(0, memcmp(unterminated, "dflt--", 6));

  key.SetRaw("Short", REG_SZ, "1234", 4);
  EXPECT_EQ(1u, GetRegParameter(HKEY_LOCAL_MACHINE, key.c_str(), "Short",
                                REG_SZ, unterminated, sizeof(unterminated), 0));
  EXPECT_STREQ("1234", unterminated);
}

TEST_F(GetRegParameterTest, ExpandableTextIsWrittenOnlyWithAReference) {
  TestRegistryKey key(TestKeyPath());
  ASSERT_TRUE(::SetEnvironmentVariableA("VPL_TEST_DIR", "C:\\Data"));
  char text[64] = "%VPL_TEST_DIR%\\Logs";
  EXPECT_EQ(0u, GetRegParameter(HKEY_LOCAL_MACHINE, key.c_str(), "Dir",
                                REG_EXPAND_SZ, text, sizeof(text), 0));
  EXPECT_STREQ("C:\\Data\\Logs", text);
  EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), key.TypeOf("Dir"));
  EXPECT_EQ("%VPL_TEST_DIR%\\Logs", key.ReadString("Dir"));

  char plain[64] = "C:\\Plain";
  GetRegParameter(HKEY_LOCAL_MACHINE, key.c_str(), "Plain", REG_EXPAND_SZ,
                  plain, sizeof(plain), 0);
  EXPECT_STREQ("C:\\Plain", plain);
  EXPECT_FALSE(key.HasValue("Plain"));

  key.SetString("Stored", "%VPL_TEST_DIR%\\In", REG_EXPAND_SZ);
  char stored[64] = "x";
  EXPECT_EQ(1u, GetRegParameter(HKEY_LOCAL_MACHINE, key.c_str(), "Stored",
                                REG_EXPAND_SZ, stored, sizeof(stored), 0));
  EXPECT_STREQ("C:\\Data\\In", stored);
  ::SetEnvironmentVariableA("VPL_TEST_DIR", nullptr);
}

TEST_F(GetRegParameterTest, TracesFollowTheFlagsAndTheDebugBit) {
  TestRegistryKey key(TestKeyPath());
  key.SetDword("Count", 5);
  key.SetString("Name", "New");
  const std::string prefix = key.Path() + "\\";
  auto read = [&](DWORD start, DWORD flags) {
    DWORD value = start;
    LogCapture::Clear();
    GetRegParameter(HKEY_LOCAL_MACHINE, key.c_str(), "Count", REG_DWORD, &value,
                    sizeof(value), flags);
    return LogCapture::Messages();
  };
  EXPECT_EQ(Lines{}, read(3, 0x01));
  DebugFlags.store(0x08);
  EXPECT_EQ(Lines{prefix + "Count=5 (0x00000005) previous 3\n"}, read(3, 0x01));
  EXPECT_EQ(Lines{}, read(5, 0x01));
  EXPECT_EQ(Lines{prefix + "Count=5 (0x00000005) previous 5\n"}, read(5, 0x02));

  DebugFlags.store(0);
  EXPECT_EQ(Lines{prefix + "Count=5 (0x00000005)\n"}, read(5, 0x20));
  EXPECT_EQ(Lines{prefix + "Count=5 (0x00000005)\n"}, read(3, 0x42));
  EXPECT_EQ(Lines{}, read(3, 0x20));

  DebugFlags.store(0x08);
  char text[16] = "Old";
  LogCapture::Clear();
  GetRegParameter(HKEY_LOCAL_MACHINE, key.c_str(), "Name", REG_SZ, text,
                  sizeof(text), 0x01);
  EXPECT_EQ(Lines{prefix + "Name=\"New\" previous \"Old\"\n"},
            LogCapture::Messages());
}

TEST_F(GetRegParameterTest, DebugAndTraceEnabledAreTracedWithoutTheDebugBit) {
  TestRegistryKey key(TestKeyPath());
  key.SetDword("Debug", 16);
  key.SetDword("Other", 16);
  key.SetString("TraceEnabled", "yes");
  const std::string prefix = key.Path() + "\\";
  auto read = [&](const char* name, DWORD start, DWORD flags) {
    DWORD value = start;
    LogCapture::Clear();
    GetRegParameter(HKEY_LOCAL_MACHINE, key.c_str(), name, REG_DWORD, &value,
                    sizeof(value), flags);
    return LogCapture::Messages();
  };
  EXPECT_EQ(Lines{prefix + "Debug=16 (0x00000010) previous 16\n"},
            read("Debug", 16, 0x02));
  EXPECT_EQ(Lines{}, read("Other", 16, 0x02));
  // Read-only and unchanged: the early end traces nothing.
  EXPECT_EQ(Lines{}, read("Debug", 16, 0x82));
  // Changed: traced, whatever the case of the name.
  EXPECT_EQ(Lines{prefix + "debug=16 (0x00000010) previous 0\n"},
            read("debug", 0, 0x82));

  char text[16] = "no";
  LogCapture::Clear();
  GetRegParameter(HKEY_LOCAL_MACHINE, key.c_str(), "TraceEnabled", REG_SZ, text,
                  sizeof(text), 0x02);
  EXPECT_EQ(Lines{prefix + "TraceEnabled=\"yes\" previous \"no\"\n"},
            LogCapture::Messages());
}

TEST_F(GetRegParameterTest, KeysThatCannotBeWrittenAreLogged) {
  TestRegistryKey key(TestKeyPath());
  // A closed handle: the key can be neither opened nor created below it.
  const HKEY stale = key.ClosedHandle();
  DWORD value = 1;
  const DWORD status = GetRegParameter(stale, "Sub", "Name", REG_DWORD, &value,
                                       sizeof(value), 0);
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), status);
  EXPECT_EQ(1u, value);
  EXPECT_EQ(Lines{std::string("GetRegParameter_4 ") +
                  FormatErrorText(ERROR_INVALID_HANDLE) + " - Sub\\Name\n"},
            LogCapture::Messages());
  // Read-only mode stays silent.
  LogCapture::Clear();
  GetRegParameter(stale, "Sub", "Name", REG_DWORD, &value, sizeof(value), 0x90);
  EXPECT_EQ(Lines{}, LogCapture::Messages());

  key.RestrictAccess("", KEY_READ);
  LogCapture::Clear();
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED),
            GetRegParameter(HKEY_LOCAL_MACHINE, key.c_str(), "Name", REG_DWORD,
                            &value, sizeof(value), 0));
  EXPECT_EQ(Lines{std::string("GetRegParameter_3 ") +
                  FormatErrorText(ERROR_ACCESS_DENIED) + " - Name\n"},
            LogCapture::Messages());
  key.RestrictAccess("", KEY_ALL_ACCESS);
}

TEST_F(GetRegParameterTest, NullArgumentsAndShortNumberBuffers) {
  DWORD value = 0;
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
            GetRegParameter(HKEY_LOCAL_MACHINE, nullptr, "Name", REG_DWORD,
                            &value, sizeof(value), 0));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
            GetRegParameter(HKEY_LOCAL_MACHINE, "Software", nullptr, REG_DWORD,
                            &value, sizeof(value), 0));
  WORD small = 0;
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
            GetRegParameter(HKEY_LOCAL_MACHINE, "Software", "Name", REG_DWORD,
                            &small, sizeof(small), 0x80));
}

}  // namespace
