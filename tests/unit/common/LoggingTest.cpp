#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "common/Logging.h"
#include "contract/StringIds.h"
#include "tests/support/LogCapture.h"

using ::testing::ElementsAre;
using vpltest::LogCapture;

namespace {

using namespace NTarn;

// Read before any test can change it.
const uint32_t kDebugFlagsAtLoad = DebugFlags.load();

std::string ShortDate(const SYSTEMTIME& time) {
  char date[20] = "";
  GetDateFormatA(LOCALE_SYSTEM_DEFAULT, DATE_SHORTDATE, &time, nullptr, date,
                 sizeof(date));
  return date;
}

ULONGLONG ToFileTime(const SYSTEMTIME& time) {
  FILETIME ft;
  EXPECT_TRUE(SystemTimeToFileTime(&time, &ft));
  return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

class LoggingTest : public ::testing::Test {
 protected:
  void SetUp() override { LogCapture::Clear(); }
  void TearDown() override { SetLogHostModuleForTesting(nullptr); }
};

TEST_F(LoggingTest, DebugFlagsHoldNineUntilSettingsAreRead) {
  EXPECT_EQ(9u, kDebugFlagsAtLoad);
}

TEST_F(LoggingTest, ForwardsFormatAndArgumentsToHost) {
  const int written = LogMessage("%T: step %d of %s, %ls, 0x%08lx\n", 3, "ten",
                                 L"wide", 0x80041010UL);
  EXPECT_THAT(LogCapture::Messages(),
              ElementsAre("[T]: step 3 of ten, wide, 0x80041010\n"));
  EXPECT_EQ(static_cast<int>(LogCapture::Messages()[0].size()), written);
}

TEST_F(LoggingTest, HostWithoutLoggerIsLookedUpAgainOnEveryCall) {
  // kernel32 exports no vLogPrintf: nothing is written and nothing fails.
  SetLogHostModuleForTesting(GetModuleHandleW(L"kernel32.dll"));
  EXPECT_EQ(0, LogMessage("%T: lost %d\n", 1));
  EXPECT_EQ(0, LogMessage("%T: lost %d\n", 2));
  EXPECT_TRUE(LogCapture::Messages().empty());

  // Once the host exports it, the next call finds it.
  SetLogHostModuleForTesting(GetModuleHandleW(nullptr));
  EXPECT_GT(LogMessage("%T: found\n"), 0);
  EXPECT_THAT(LogCapture::Messages(), ElementsAre("[T]: found\n"));
}

TEST_F(LoggingTest, TimeStampPassesThroughToHostUnexpanded) {
  // "%T" is the host's to expand; a literal "%%T" is not a stamp.
  LogMessage("%T %%T %T\n");
  EXPECT_THAT(LogCapture::Messages(), ElementsAre("[T] %T [T]\n"));
}

TEST(TimeStampTest, ConsecutiveCallsWithoutBufferAlternateTwoBuffers) {
  SYSTEMTIME before;
  GetLocalTime(&before);
  char* first = FormatTimeStamp(nullptr, 0, 0);
  char* second = FormatTimeStamp(nullptr, 0, 0);
  char* third = FormatTimeStamp(nullptr, 0, 0);
  EXPECT_NE(first, second);
  EXPECT_EQ(first, third);
  // Both show the current local date (a stamp is "<date> hh:mm:ss").
  const std::string date = ShortDate(before);
  EXPECT_EQ(0u, std::string(second).find(date + " ")) << second;
  EXPECT_EQ(date.size() + 9, strlen(second)) << second;

  char* firstMs = FormatTimeStampMs(nullptr, 0, 0);
  char* secondMs = FormatTimeStampMs(nullptr, 0, 0);
  EXPECT_NE(firstMs, secondMs);
  EXPECT_NE(firstMs, first);
  EXPECT_NE(firstMs, second);
}

TEST(TimeStampTest, GivenFileTimeIsShownWithoutZoneConversion) {
  const SYSTEMTIME time = {2026, 3, 0, 15, 13, 4, 5, 678};
  const ULONGLONG fileTime = ToFileTime(time);
  const std::string date = ShortDate(time);
  EXPECT_EQ(date + " 13:04:05", FormatTimeStamp(nullptr, 0, fileTime));
  EXPECT_EQ(date + " 13:04:05.678", FormatTimeStampMs(nullptr, 0, fileTime));

  char own[64];
  EXPECT_EQ(own, FormatTimeStamp(own, sizeof(own), fileTime));
  EXPECT_EQ(date + " 13:04:05", own);
}

TEST(TimeStampTest, EachThreadHasItsOwnBuffers) {
  char* mine[2] = {FormatTimeStamp(nullptr, 0, 0),
                   FormatTimeStamp(nullptr, 0, 0)};
  char* theirs[2] = {nullptr, nullptr};
  std::thread([&] {
    theirs[0] = FormatTimeStamp(nullptr, 0, 0);
    theirs[1] = FormatTimeStamp(nullptr, 0, 0);
  }).join();
  for (char* other : theirs) {
    EXPECT_NE(mine[0], other);
    EXPECT_NE(mine[1], other);
  }
}

TEST(ErrorTextTest, SystemMessageIsOneLine) {
  const std::string text = FormatErrorText(ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(std::string::npos, text.find_first_of("\r\n")) << text;
  EXPECT_NE(0u, text.find("Error 0x")) << text;
}

TEST(ErrorTextTest, ZeroDescribesTheThreadsLastError) {
  const std::string expected = FormatErrorText(ERROR_ACCESS_DENIED);
  SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_EQ(expected, FormatErrorText(0));
  const std::wstring expectedW = FormatErrorTextW(ERROR_ACCESS_DENIED);
  SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_EQ(expectedW, FormatErrorTextW(0));
}

TEST(ErrorTextTest, UnknownCodeGivesEightHexDigits) {
  EXPECT_STREQ("Error 0x0000abcd", FormatErrorText(0xABCD));
  EXPECT_STREQ("Error 0xe0001234", FormatErrorText(0xE0001234));
  EXPECT_STREQ(L"Error 0x0000abcd", FormatErrorTextW(0xABCD));
}

TEST(ErrorTextTest, InsertionMarkersAreKeptLiterally) {
  // "%1 is not a valid Win32 application."
  const std::string text = FormatErrorText(ERROR_BAD_EXE_FORMAT);
  EXPECT_NE(std::string::npos, text.find("%1")) << text;
  const std::wstring wide = FormatErrorTextW(ERROR_BAD_EXE_FORMAT);
  EXPECT_NE(std::wstring::npos, wide.find(L"%1"));
}

TEST(ErrorTextTest, WideAndNarrowTextsAgree) {
  const std::string narrow = FormatErrorText(ERROR_FILE_NOT_FOUND);
  const std::wstring wide = FormatErrorTextW(ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(std::wstring(narrow.begin(), narrow.end()), wide);
}

TEST(StringResourceTest, TableHoldsTheTexts) {
  const std::pair<UINT, const wchar_t*> expected[] = {
      {IDS_PROJNAME, L"VplCMgr"},
      {IDS_OBSERVER_NAME, L"Pending (or) running jobs power down observer"},
      {IDS_JOBS_IN_PROGRESS, L"SMS\\CMgr jobs in progress"},
      {IDS_JOBS_PENDING, L"SMS\\CMgr jobs pending in %d minutes"},
      {IDS_CANCELLING_REQUEST, L"\"Cancelling %ls\""},
      {IDS_AUTO_POWER_DOWN_REQUEST, L"Auto power down request"},
      {IDS_INITIATED_AUTO_POWER_DOWN,
       L"Initiated auto power down request (retry=%d)"},
  };
  for (const auto& [id, text] : expected) {
    wchar_t buffer[100];
    EXPECT_EQ(static_cast<int>(wcslen(text)),
              LoadStringResource(id, buffer, 100));
    EXPECT_STREQ(text, buffer) << id;
  }
}

TEST(StringResourceTest, CopyIsCutToCapacityAndTerminated) {
  wchar_t buffer[8];
  wmemset(buffer, L'x', 8);
  EXPECT_EQ(3, LoadStringResource(IDS_PROJNAME, buffer, 4));
  EXPECT_STREQ(L"Vpl", buffer);
  EXPECT_EQ(L'x', buffer[4]);

  char narrow[8];
  memset(narrow, 'x', sizeof(narrow));
  EXPECT_EQ(5, LoadStringResourceA(IDS_CANCELLING_REQUEST, narrow, 6));
  EXPECT_STREQ("\"Canc", narrow);
  EXPECT_EQ('x', narrow[6]);
}

TEST(StringResourceTest, MissingStringGivesZeroAndEmptyText) {
  wchar_t buffer[16] = L"stale";
  // 107 is past the last string of its block; 300 is in a block that does
  // not exist.
  EXPECT_EQ(0, LoadStringResource(107, buffer, 16));
  EXPECT_STREQ(L"", buffer);
  wcscpy(buffer, L"stale");
  EXPECT_EQ(0, LoadStringResource(300, buffer, 16));
  EXPECT_STREQ(L"", buffer);
  char narrow[16] = "stale";
  EXPECT_EQ(0, LoadStringResourceA(300, narrow, 16));
  EXPECT_STREQ("", narrow);
}

TEST(StringResourceTest, NarrowTwinConvertsToAnsi) {
  char buffer[100];
  EXPECT_EQ(25, LoadStringResourceA(IDS_JOBS_IN_PROGRESS, buffer, 100));
  EXPECT_STREQ("SMS\\CMgr jobs in progress", buffer);
}

TEST_F(LoggingTest, InsufficientMemoryIsLoggedWithLocalTime) {
  ReportInsufficientMemory("CSomewhere::Allocate");
  const auto messages = LogCapture::Messages();
  ASSERT_EQ(1u, messages.size());
  SYSTEMTIME now;
  GetLocalTime(&now);
  EXPECT_THAT(
      messages[0],
      ::testing::MatchesRegex("\\[T\\]: .* \\d\\d:\\d\\d:\\d\\d - "
                              "Insufficient Memory in CSomewhere::Allocate\n"));
  EXPECT_EQ(5u, messages[0].find(ShortDate(now)));
}

TEST(EventLogTest, NullInsertionStringsAreAccepted) {
  // Wine's event log stores nothing; this checks the call is well formed.
  WriteEventLog(EVENTLOG_INFORMATION_TYPE, 0x00020001, "text", nullptr,
                nullptr);
  WriteEventLog(EVENTLOG_ERROR_TYPE, 0xC0040022, nullptr, nullptr, nullptr);
}

}  // namespace
