#include "autopowerdown/AutoPowerdownRequest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/Logging.h"
#include "tests/unit/autopowerdown/AutoPowerdownFixture.h"

namespace {

using Microsoft::WRL::ComPtr;
using vpltest::EventLogCapture;
using vpltest::LogCapture;
using Lines = std::vector<std::string>;

constexpr ULONGLONG kMinute = 600000000ULL;
constexpr ULONGLONG kTenthOfASecond = 1000000ULL;
constexpr ULONGLONG kOneDay = 1440 * kMinute;
constexpr char kInvalidContextLine[] =
    "[T]: Invalid power down context passed into the auto power down request; "
    "bailing...\n";

std::string AttemptText(int retry) {
  return "Initiated auto power down request (retry=" + std::to_string(retry) +
         ")";
}

std::string FireLine(ULONGLONG localDue) {
  return std::string("[T]: Setting auto power down to fire at ") +
         FormatTimeStamp(nullptr, 0, localDue) + "\n";
}

Lines FireLines() {
  Lines lines;
  for (const std::string& line : LogCapture::Messages()) {
    if (line.find("Setting auto power down to fire at") != std::string::npos)
      lines.push_back(line);
  }
  return lines;
}

class AutoPowerdownRequestTest : public vpltest::AutoPowerdownFixture {
 protected:
  void SetUp() override {
    ComObject<AutoPowerdownRequest>* created = nullptr;
    ASSERT_EQ(S_OK, ComObject<AutoPowerdownRequest>::CreateInstance(&created,
                                                                    kMinute));
    request_ = created;
    settings_.SetString("LogOffAction", "FORCE");
    // A leftover of an earlier cycle.
    stateKey_.SetRaw("LastPowerDownAttemptTime", REG_QWORD, &kStale,
                     sizeof(kStale));
  }
  void TearDown() override {
    // As the thread does when it is done with the request.
    if (request_) request_->ReleaseContext();
    request_.Reset();
    vpltest::AutoPowerdownFixture::TearDown();
  }
  HRESULT Issue() {
    return request_->IssueRequest(host_.powerDownProvider.Get(), 1);
  }
  int RetryCount() {
    int count = -1;
    request_->GetRetryCount(&count);
    return count;
  }

  static constexpr ULONGLONG kStale = 12345;
  vpltest::TestRegistryKey stateKey_{
      "Software\\Tarn\\Vesperline\\AutoPowerDown"};
  ComPtr<AutoPowerdownRequest> request_;
};

TEST_F(AutoPowerdownRequestTest, ContextWithoutLogoffActionIsWithdrawn) {
  const struct {
    const char* setting;
    Lines lines;
  } cases[] = {
      {nullptr, {kInvalidContextLine}},
      {"NEVER", {kInvalidContextLine}},
      {"Later",
       {"LogoffAction = 'Later'; this is not a valid setting; assuming "
        "'NEVER'\n",
        kInvalidContextLine}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.setting ? test.setting : "missing");
    if (test.setting) {
      settings_.SetString("LogOffAction", test.setting);
    } else {
      ::RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, settings_.c_str(),
                           "LogOffAction");
    }
    LogCapture::Clear();
    const int withdrawn = host_.powerDownProvider->CallCount(11);
    EXPECT_EQ(E_FAIL, Issue());
    EXPECT_EQ(test.lines, LogCapture::Messages());
    EXPECT_EQ(withdrawn + 1, host_.powerDownProvider->CallCount(11));
  }
  EXPECT_EQ(0, host_.powerDownProvider->CallCount(3));
  EXPECT_TRUE(EventLogCapture::Texts().empty());
}

TEST_F(AutoPowerdownRequestTest, RetriesFollowAFixedGridUntilTheyRunOut) {
  settings_.SetDword("RetryAttempts", 2);
  settings_.SetDword("RetryInterval", 15);
  ASSERT_EQ(S_OK, Issue());
  const ULONGLONG first = LastAttemptTime();
  ASSERT_EQ(S_OK, Issue());
  const ULONGLONG second = LastAttemptTime();
  // The second retry counts from the first one's planned time, not from now.
  EXPECT_EQ(15 * kMinute, second - first);
  EXPECT_EQ((Lines{FireLine(first + kTenthOfASecond),
                   FireLine(second + kTenthOfASecond)}),
            FireLines());
  EXPECT_EQ(E_FAIL, Issue());
  EXPECT_EQ((Lines{AttemptText(0), AttemptText(1), AttemptText(2)}),
            EventLogCapture::Texts());
  EXPECT_FALSE(StateKeyExists());
  EXPECT_EQ(3, host_.powerDownProvider->CallCount(3));
  EXPECT_EQ(0, host_.powerDownProvider->CallCount(11));
}

TEST_F(AutoPowerdownRequestTest, SingleAttemptEndsTheCycle) {
  EXPECT_EQ(E_FAIL, request_->OnCompleted(0));
  EXPECT_EQ(E_FAIL, Issue());
  EXPECT_EQ(Lines{AttemptText(0)}, EventLogCapture::Texts());
  EXPECT_TRUE(FireLines().empty());
  EXPECT_FALSE(StateKeyExists());
  // The settings missing at first are created.
  EXPECT_EQ(0u, settings_.ReadDword("RetryAttempts"));
  VARIANT_BOOL last = VARIANT_FALSE;
  VARIANT_BOOL exhausted = VARIANT_FALSE;
  request_->IsLastAttempt(&last);
  request_->IsExhausted(&exhausted);
  EXPECT_EQ(1, RetryCount());
  EXPECT_EQ(VARIANT_TRUE, last);
  EXPECT_EQ(VARIANT_TRUE, exhausted);
}

TEST_F(AutoPowerdownRequestTest, ZeroIntervalFiresADayLater) {
  settings_.SetDword("RetryAttempts", 1);
  ASSERT_EQ(S_OK, Issue());
  EXPECT_EQ(Lines{FireLine(LastAttemptTime() + kOneDay + kTenthOfASecond)},
            FireLines());
}

// A host that cancels the request from inside RequestPowerDown: the cancel
// wins over the attempt that is being made.
TEST_F(AutoPowerdownRequestTest, CancelDuringTheRequestEndsTheCycle) {
  settings_.SetDword("RetryAttempts", 3);
  settings_.SetDword("RetryInterval", 15);
  for (const int cancelledAttempt : {1, 2}) {
    SCOPED_TRACE(cancelledAttempt);
    int attempt = 0;
    host_.powerDownProvider->OnRequest([&](IPowerDownContext* context) {
      if (++attempt == cancelledAttempt) context->Cancel(0);
    });
    LogCapture::Clear();
    for (int i = 0; i < cancelledAttempt; ++i) EXPECT_EQ(S_OK, Issue());
    EXPECT_EQ(0, RetryCount());
    EXPECT_EQ(static_cast<size_t>(cancelledAttempt - 1), FireLines().size());
    EXPECT_EQ(nullptr, request_->ReleaseContext().Get());
  }
}

// The host keeps the request alive through the context after the thread has
// let go of both; they go when the host does.
TEST_F(AutoPowerdownRequestTest, HostReachesTheRequestThroughTheContext) {
  settings_.SetDword("RetryAttempts", 1);
  ASSERT_EQ(S_OK, Issue());
  request_->ReleaseContext();
  request_.Reset();
  ComPtr<IPowerDownContext> context =
      host_.powerDownProvider->RequestedContexts().at(0);
  host_.ReleaseHeld();
  IPowerDownRequest* request = nullptr;
  ASSERT_EQ(S_OK, context->GetRequest(&request));
  int count = 0;
  EXPECT_EQ(S_OK, request->GetRetryCount(&count));
  EXPECT_EQ(1, count);
  EXPECT_EQ(S_OK, context->Complete());
  EXPECT_EQ(S_OK, request->GetRetryCount(&count));
  EXPECT_EQ(0, count);
}

}  // namespace
