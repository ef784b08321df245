#include "autopowerdown/AutoPowerdownRequest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/Logging.h"
#include "tests/unit/autopowerdown/AutoPowerdownFixture.h"

using NTarn::FormatTimeStamp;

namespace {

using Microsoft::WRL::ComPtr;
using vpltest::AttemptText;
using vpltest::EventLogCapture;
using vpltest::Lines;
using vpltest::LogCapture;

constexpr ULONGLONG kMinute = 600000000ULL;
constexpr ULONGLONG kTenthOfASecond = 1000000ULL;
constexpr char kInvalid[] =
    "[T]: Invalid power down context passed into the auto power down request; "
    "bailing...\n";

std::string FireLine(ULONGLONG localDue) {
  return std::string("[T]: Setting auto power down to fire at ") +
         FormatTimeStamp(nullptr, 0, localDue) + "\n";
}

class AutoPowerdownRequestTest : public vpltest::AutoPowerdownFixture {
 protected:
  void SetUp() override { NewRequest(); }
  void TearDown() override {
    if (request_) request_->ReleaseContext();  // as the thread does
    request_.Reset();
    vpltest::AutoPowerdownFixture::TearDown();
  }
  void NewRequest() {
    if (request_) request_->ReleaseContext();
    NTarn::ComObject<AutoPowerdownRequest>* created = nullptr;
    ASSERT_EQ(S_OK, NTarn::ComObject<AutoPowerdownRequest>::CreateInstance(
                        &created, kMinute));
    request_ = created;
  }
  HRESULT Issue() {
    return request_->IssueRequest(host_.powerDownProvider.Get(), 1);
  }
  int RetryCount() {
    int count = -1;
    request_->GetRetryCount(&count);
    return count;
  }

  // A leftover of an earlier cycle, which a cycle that runs out deletes.
  vpltest::TestRegistryKey stateKey_{vpltest::kStateKey};
  ComPtr<AutoPowerdownRequest> request_;
};

TEST_F(AutoPowerdownRequestTest, OneAttemptWithEachSetting) {
  // A null action is missing; a retry, when expected, fires a day later.
  // clang-format off
  const struct { const char* logoffAction; DWORD retryAttempts; HRESULT result; int requests, withdrawals; Lines lines; } cases[] = {
      {nullptr, 0, E_FAIL, 0, 1, {kInvalid}},
      {"NEVER", 0, E_FAIL, 0, 1, {kInvalid}},
      {"Later", 0, E_FAIL, 0, 1, {"LogoffAction = 'Later'; this is not a valid setting; assuming 'NEVER'\n", kInvalid}},
      // The only attempt ends the cycle.
      {"fOrCe", 0, E_FAIL, 1, 0, {}},
      // No interval: the next attempt would be now, so it is a day later.
      {"FORCE", 1, S_OK, 1, 0, {}},
  };
  // clang-format on
  for (const auto& test : cases) {
    SCOPED_TRACE(test.logoffAction ? test.logoffAction : "missing");
    NewRequest();
    host_.powerDownProvider =
        vpltest::MakeFake<vpltest::FakePowerDownProvider>();
    ::RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, settings_.c_str(), "LogOffAction");
    if (test.logoffAction)
      settings_.SetString("LogOffAction", test.logoffAction);
    settings_.SetDword("RetryAttempts", test.retryAttempts);
    stateKey_.SetDword("Stale", 1);
    LogCapture::Clear();

    EXPECT_EQ(test.result, Issue());
    EXPECT_EQ(test.result == S_OK
                  ? Lines{FireLine(LastAttemptTime() + 1440 * kMinute +
                                   kTenthOfASecond)}
                  : test.lines,
              LogCapture::Messages());
    EXPECT_EQ(test.requests, host_.powerDownProvider->CallCount(3));
    EXPECT_EQ(test.withdrawals, Withdrawals());
    EXPECT_EQ(test.requests ? Lines{AttemptText(0)} : Lines{},
              EventLogCapture::Texts());
    EXPECT_EQ(test.result == S_OK || test.requests == 0, stateKey_.Exists());
    host_.powerDownProvider->ReleaseHeld();
  }
}

TEST_F(AutoPowerdownRequestTest, RetriesFollowAFixedGridUntilTheyRunOut) {
  settings_.SetDword("RetryAttempts", 2);
  settings_.SetDword("RetryInterval", 15);
  EXPECT_EQ(E_FAIL, request_->OnCompleted(0));
  VARIANT_BOOL last = VARIANT_TRUE, exhausted = VARIANT_FALSE;
  ASSERT_EQ(S_OK, Issue());
  const ULONGLONG first = LastAttemptTime();
  request_->IsLastAttempt(&last);
  EXPECT_EQ(VARIANT_FALSE, last);
  ASSERT_EQ(S_OK, Issue());
  const ULONGLONG second = LastAttemptTime();
  // The host reads the third of three attempts as the last.
  request_->IsLastAttempt(&last);
  EXPECT_EQ(VARIANT_TRUE, last);
  // The second retry counts from the first one's planned time, not from now.
  EXPECT_EQ(15 * kMinute, second - first);
  EXPECT_EQ((Lines{FireLine(first + kTenthOfASecond),
                   FireLine(second + kTenthOfASecond)}),
            LogCapture::Messages());
  EXPECT_EQ(E_FAIL, Issue());
  EXPECT_EQ((Lines{AttemptText(0), AttemptText(1), AttemptText(2)}),
            EventLogCapture::Texts());
  EXPECT_FALSE(stateKey_.Exists());
  request_->IsLastAttempt(&last);
  request_->IsExhausted(&exhausted);
  EXPECT_EQ(3, RetryCount());
  EXPECT_TRUE(last == VARIANT_TRUE && exhausted == VARIANT_TRUE);
}

// Retry settings taken from policy are not copied into the normal key: once
// the policy is withdrawn, the built-in defaults are written there.
TEST_F(AutoPowerdownRequestTest, WithdrawnRetryPolicyLeavesTheDefaults) {
  vpltest::TestRegistryKey policy{"Software\\Policies\\Tarn\\Vesperline"};
  policy.SetDword("RetryAttempts", 3);
  policy.SetDword("RetryInterval", 7);
  ASSERT_EQ(S_OK, Issue());
  ::RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, policy.c_str(), "RetryAttempts");
  ::RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, policy.c_str(), "RetryInterval");
  Issue();
  EXPECT_EQ(0u, settings_.ReadDword("RetryAttempts"));
  EXPECT_EQ(0u, settings_.ReadDword("RetryInterval"));
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
    EXPECT_EQ(cancelledAttempt - 1,
              Count(FireLine(LastAttemptTime() + kTenthOfASecond)));
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
  EXPECT_EQ(S_OK, context->Complete());
  int count = -1;
  EXPECT_EQ(S_OK, request->GetRetryCount(&count));
  EXPECT_EQ(0, count);
}

}  // namespace
