#include "autopowerdown/CPowerDownContext.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "plugin/Module.h"
#include "tests/support/DebugFlagsScope.h"
#include "tests/support/EventLogCapture.h"
#include "tests/support/FakeComObject.h"
#include "tests/support/LogCapture.h"

namespace {

using Microsoft::WRL::ComPtr;
using vpltest::EventLogCapture;
using vpltest::LogCapture;
using Lines = std::vector<std::string>;
using Forwarded = std::vector<std::pair<std::string, LONG>>;

constexpr HRESULT kNoRequest = HRESULT_FROM_WIN32(ERROR_INVALID_ADDRESS);

// Records what the context forwards; its name can be long or unavailable.
class FakeRequest final : public vpltest::FakeComObject<IPowerDownRequest> {
 public:
  std::wstring name = L"Auto power down request";
  bool nameFails = false;
  Forwarded forwarded;

  STDMETHOD(GetName)(BSTR* out) override {
    if (nameFails) return E_FAIL;
    *out = SysAllocString(name.c_str());
    return S_OK;
  }
  STDMETHOD(GetRetryCount)(int*) override { return E_NOTIMPL; }
  STDMETHOD(IsAutomatic)(VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHOD(IsInProgress)(VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHOD(IsLastAttempt)(VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHOD(IsExhausted)(VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHOD(OnCompleted)(LONG code) override {
    return Record("OnCompleted", code);
  }
  STDMETHOD(OnCancelled)(LONG code) override {
    return Record("OnCancelled", code);
  }
  STDMETHOD(OnLogoffFailed)(LONG code) override {
    return Record("OnLogoffFailed", code);
  }
  STDMETHOD(Submit)(IPowerDownProvider*) override { return E_NOTIMPL; }
  STDMETHOD(Reserved)() override { return E_NOTIMPL; }
  STDMETHOD(LogTrigger)() override { return E_NOTIMPL; }
  STDMETHOD(Abort)() override { return E_NOTIMPL; }

 private:
  HRESULT Record(const char* operation, LONG code) {
    forwarded.emplace_back(operation, code);
    return S_FALSE;  // passed back unchanged
  }
};

class CPowerDownContextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(S_OK, ComObject<CPowerDownContext>::CreateInstance(
                        IID_PPV_ARGS(&context_)));
  }
  void TearDown() override {
    context_.Reset();
    EXPECT_EQ(1, request_->RefCount());
    EXPECT_EQ(0, Module().GetLockCount());
  }
  int Outcome() {
    int outcome = 0;
    context_->GetOutcome(&outcome);
    return outcome;
  }

  vpltest::DebugFlagsScope flags_{0};
  EventLogCapture events_;
  ComPtr<FakeRequest> request_ = vpltest::MakeFake<FakeRequest>();
  ComPtr<IPowerDownContext> context_;
};

struct ReportCase {
  const char* name;
  std::function<HRESULT(IPowerDownContext*)> report;
  int logoffAction;
  const char* line;
  bool eventWritten;
  int outcome;
  Forwarded forwarded;
};

TEST_F(CPowerDownContextTest, ReportsAreLoggedRecordedAndForwarded) {
  const std::string event = "\"Cancelling Auto power down request\"";
  const ReportCase cases[] = {
      {"Cancel",
       [](IPowerDownContext* c) { return c->Cancel(7); },
       kLogoffNever,
       "[T]: Canceling Auto power down request\n",
       true,
       kOutcomeCancelled,
       {{"OnCompleted", 7}}},
      {"UserCancelForced",
       [](IPowerDownContext* c) { return c->UserCancel(7); },
       kLogoffForce,
       "[T]: User cancels Auto power down request\n",
       true,
       kOutcomeOpen,
       {{"OnCancelled", 7}}},
      {"LogoffFailed",
       [](IPowerDownContext* c) { return c->LogoffFailed(7); },
       kLogoffActive,
       "[T]: Logoff failed for Auto power down request\n",
       true,
       kOutcomeCancelled,
       {{"OnLogoffFailed", 7}}},
      {"ObserverCancel",
       [](IPowerDownContext* c) { return c->ObserverCancel(7); },
       kLogoffPassive,
       "[T]: Observer canceled. Auto power down request\n",
       true,
       kOutcomeCancelled,
       {{"OnCancelled", 7}}},
      {"CompleteForced",
       [](IPowerDownContext* c) { return c->Complete(); },
       kLogoffForce,
       "[T]: Successfully completing power down request (Auto power down "
       "request).\n",
       false,
       kOutcomeCompleted,
       {{"OnCompleted", 0}}},
  };
  for (const ReportCase& test : cases) {
    SCOPED_TRACE(test.name);
    ASSERT_EQ(S_OK, ComObject<CPowerDownContext>::CreateInstance(
                        IID_PPV_ARGS(context_.ReleaseAndGetAddressOf())));
    EXPECT_EQ(kNoRequest, test.report(context_.Get()));
    ASSERT_EQ(S_OK, context_->PutRequest(request_.Get()));
    context_->PutLogoffAction(test.logoffAction);
    context_->MarkInProgress();
    LogCapture::Clear();
    request_->forwarded.clear();
    const EventLogCapture events;

    EXPECT_EQ(S_FALSE, test.report(context_.Get()));
    EXPECT_EQ(Lines{test.line}, LogCapture::Messages());
    EXPECT_EQ(test.eventWritten ? Lines{event} : Lines{},
              EventLogCapture::Texts());
    EXPECT_EQ(test.outcome, Outcome());
    EXPECT_EQ(test.forwarded, request_->forwarded);
    short inProgress = -2;
    context_->GetInProgress(&inProgress);
    EXPECT_EQ(0, inProgress);
  }
}

TEST_F(CPowerDownContextTest, EventTextIsCutAndNamelessReportsStillCount) {
  ASSERT_EQ(S_OK, context_->PutRequest(request_.Get()));
  request_->name.assign(300, L'x');
  EXPECT_EQ(S_FALSE, context_->Cancel(1));
  const Lines texts = EventLogCapture::Texts();
  ASSERT_EQ(1u, texts.size());
  EXPECT_EQ("\"Cancelling " + std::string(259 - 12, 'x'), texts[0]);

  // No name: neither line nor event, but the outcome and the forwarding.
  request_->nameFails = true;
  context_->PutOutcome(kOutcomeOpen);
  LogCapture::Clear();
  EXPECT_EQ(S_FALSE, context_->UserCancel(2));
  EXPECT_TRUE(LogCapture::Messages().empty());
  EXPECT_EQ(1u, EventLogCapture::Texts().size());
  EXPECT_EQ(kOutcomeCancelled, Outcome());
  EXPECT_EQ((Forwarded{{"OnCompleted", 1}, {"OnCancelled", 2}}),
            request_->forwarded);
}

TEST_F(CPowerDownContextTest, MessageIsCopiedInAndOut) {
  BSTR out = reinterpret_cast<BSTR>(1);
  EXPECT_EQ(E_POINTER, context_->GetMessage(nullptr));
  EXPECT_EQ(E_POINTER, context_->GetMessage(&out));
  EXPECT_EQ(nullptr, out);

  BSTR text = SysAllocString(L"Shutting down");
  ASSERT_EQ(S_OK, context_->PutMessage(text));
  SysFreeString(text);  // the context keeps its own copy
  ASSERT_EQ(S_OK, context_->GetMessage(&out));
  EXPECT_STREQ(L"Shutting down", out);
  SysFreeString(out);

  EXPECT_EQ(S_OK, context_->PutMessage(nullptr));
  EXPECT_EQ(E_POINTER, context_->GetMessage(&out));
}

// The worker refills the message at a retry while the host still shows the
// previous one.
TEST_F(CPowerDownContextTest, HostReadsTheMessageWhileARetryRefillsIt) {
  const std::wstring texts[] = {std::wstring(1000, L'a'),
                                std::wstring(700, L'b')};
  std::atomic<bool> done{false};
  std::thread worker([&] {
    for (int i = 0; i < 20000; ++i) {
      BSTR text = SysAllocString(texts[i % 2].c_str());
      context_->PutMessage(text);
      SysFreeString(text);
    }
    done = true;
  });
  int torn = 0;
  while (!done) {
    BSTR out = nullptr;
    if (SUCCEEDED(context_->GetMessage(&out))) {
      if (out != texts[0] && out != texts[1]) ++torn;
      SysFreeString(out);
    }
  }
  worker.join();
  EXPECT_EQ(0, torn);
}

TEST(LogoffActionTextTest, TextsReadInAnyCaseAndUnknownMeansNever) {
  vpltest::DebugFlagsScope flags(0);
  EXPECT_EQ(kLogoffForce, LogoffActionFromText(L"fOrCe"));
  EXPECT_EQ(kLogoffPassive, LogoffActionFromText(L"passive"));
  EXPECT_TRUE(LogCapture::Messages().empty());
  EXPECT_EQ(kLogoffNever, LogoffActionFromText(L"Later"));
  EXPECT_EQ(Lines{"LogoffAction = 'Later'; this is not a valid setting; "
                  "assuming 'NEVER'\n"},
            LogCapture::Messages());
  EXPECT_STREQ(L"ACTIVE", LogoffActionToText(kLogoffActive));
  EXPECT_STREQ(L"NEVER", LogoffActionToText(7));
}

}  // namespace
