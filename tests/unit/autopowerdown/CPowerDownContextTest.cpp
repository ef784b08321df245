#include "autopowerdown/CPowerDownContext.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "autopowerdown/AutoPowerdownRequest.h"
#include "common/ScopedBstr.h"
#include "tests/unit/autopowerdown/AutoPowerdownFixture.h"

namespace {

using Microsoft::WRL::ComPtr;
using vpltest::EventLogCapture;
using vpltest::Lines;
using vpltest::LogCapture;

// Records what the context forwards; its name can be long or unavailable.
class RecordingRequest : public AutoPowerdownRequest {
 public:
  RecordingRequest() : AutoPowerdownRequest(1) {}
  STDMETHOD(GetName)(BSTR* name) override {
    if (nameFails) return E_FAIL;
    if (!longName) return AutoPowerdownRequest::GetName(name);
    *name = SysAllocString(std::wstring(300, L'x').c_str());
    return S_OK;
  }
  STDMETHOD(OnCompleted)(LONG code) override { return Record('C', code); }
  STDMETHOD(OnCancelled)(LONG code) override { return Record('U', code); }
  STDMETHOD(OnLogoffFailed)(LONG code) override { return Record('L', code); }
  HRESULT Record(char what, LONG code) {
    forwarded += what + std::to_string(code);
    return S_FALSE;  // handed back unchanged
  }
  bool nameFails = false, longName = false;
  std::string forwarded;
};

class CPowerDownContextTest : public vpltest::AutoPowerdownFixture {
 protected:
  void SetUp() override {
    NTarn::ComObject<RecordingRequest>* created = nullptr;
    ASSERT_EQ(S_OK,
              NTarn::ComObject<RecordingRequest>::CreateInstance(&created));
    request_ = created;
    ASSERT_EQ(S_OK, NTarn::ComObject<CPowerDownContext>::CreateInstance(
                        IID_PPV_ARGS(&context_)));
  }
  void TearDown() override {
    context_.Reset();
    request_.Reset();
    vpltest::AutoPowerdownFixture::TearDown();
  }
  int Outcome() {
    int outcome = 0;
    return context_->GetOutcome(&outcome), outcome;
  }

  ComPtr<RecordingRequest> request_;
  ComPtr<IPowerDownContext> context_;
};

TEST_F(CPowerDownContextTest, ReportsAreLoggedRecordedAndForwarded) {
  using Report = HRESULT (STDMETHODCALLTYPE IPowerDownContext::*)(LONG);
  // A forced logoff goes ahead on a user cancel: the outcome stays open.
  // clang-format off
  const struct { Report report; int logoffAction; const char* line; int outcome; const char* forwarded; } cases[] = {
      {&IPowerDownContext::Cancel, kLogoffNever, "Canceling", kOutcomeCancelled, "C7"},
      {&IPowerDownContext::UserCancel, kLogoffForce, "User cancels", kOutcomeOpen, "U7"},
      {&IPowerDownContext::LogoffFailed, kLogoffActive, "Logoff failed for", kOutcomeCancelled, "L7"},
      {&IPowerDownContext::ObserverCancel, kLogoffPassive, "Observer canceled.", kOutcomeCancelled, "U7"},
      {nullptr, kLogoffForce, nullptr, kOutcomeCompleted, "C0"},  // Complete
  };
  // clang-format on
  for (const auto& test : cases) {
    SCOPED_TRACE(test.forwarded);
    auto send = [&] {
      return test.report ? (context_.Get()->*test.report)(7)
                         : context_->Complete();
    };
    ASSERT_EQ(S_OK, NTarn::ComObject<CPowerDownContext>::CreateInstance(
                        IID_PPV_ARGS(context_.ReleaseAndGetAddressOf())));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_ADDRESS), send());
    context_->PutRequest(request_.Get());
    context_->PutLogoffAction(test.logoffAction);
    context_->MarkInProgress();
    LogCapture::Clear();
    request_->forwarded.clear();

    EXPECT_EQ(S_FALSE, send());
    EXPECT_EQ(Lines{test.line ? std::string("[T]: ") + test.line +
                                    " Auto power down request\n"
                              : "[T]: Successfully completing power down "
                                "request (Auto power down request).\n"},
              LogCapture::Messages());
    EXPECT_EQ(
        test.line ? Lines{"\"Cancelling Auto power down request\""} : Lines{},
        EventLogCapture::Texts());
    EXPECT_EQ(test.outcome, Outcome());
    EXPECT_EQ(test.forwarded, request_->forwarded);
    short inProgress = -2;
    context_->GetInProgress(&inProgress);
    EXPECT_EQ(0, inProgress);
  }
}

TEST_F(CPowerDownContextTest, EventTextIsCutAndNamelessReportsStillCount) {
  context_->PutRequest(request_.Get());
  request_->longName = true;
  context_->Cancel(1);
  EXPECT_EQ(Lines{"\"Cancelling " + std::string(259 - 12, 'x')},
            EventLogCapture::Texts());
  // Without a name: neither line nor event, but outcome and forwarding.
  request_->nameFails = true;
  LogCapture::Clear();
  context_->PutOutcome(kOutcomeOpen);
  EXPECT_EQ(S_FALSE, context_->UserCancel(2));
  EXPECT_TRUE(LogCapture::Messages().empty());
  EXPECT_TRUE(EventLogCapture::Texts().empty());
  EXPECT_EQ(kOutcomeCancelled, Outcome());
  EXPECT_EQ("C1U2", request_->forwarded);
}

// The worker refills the message at a retry while the host still reads it:
// the host gets a whole copy each time, and nothing once the message is gone.
TEST_F(CPowerDownContextTest, HostReadsTheMessageWhileARetryRefillsIt) {
  BSTR out = reinterpret_cast<BSTR>(1);
  EXPECT_EQ(E_POINTER, context_->GetMessage(&out));
  EXPECT_EQ(nullptr, out);
  const std::wstring texts[] = {std::wstring(1000, L'a'), L"b"};
  std::atomic<int> putFailures{-1};
  std::thread worker([&] {
    int failures = 0;
    for (int i = 0; i < 20000; ++i)
      failures += FAILED(
          context_->PutMessage(NTarn::ScopedBstr(texts[i % 2].c_str()).Get()));
    putFailures = failures;
  });
  int torn = 0;
  while (putFailures < 0) {
    NTarn::ScopedBstr copy;
    if (SUCCEEDED(context_->GetMessage(copy.Receive())))
      torn += copy.Get() != texts[0] && copy.Get() != texts[1];
  }
  worker.join();
  EXPECT_EQ(0, torn);
  EXPECT_EQ(0, putFailures);
  NTarn::ScopedBstr copy;
  ASSERT_EQ(S_OK, context_->GetMessage(copy.Receive()));
  EXPECT_EQ(texts[1], copy.Get());
  EXPECT_EQ(S_OK, context_->PutMessage(nullptr));
  EXPECT_EQ(E_POINTER, context_->GetMessage(copy.Receive()));
}

}  // namespace
