// The owner types' contracts that the rest of the code relies on.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <utility>

#include "common/ScopedBstr.h"
#include "common/ScopedHandle.h"
#include "common/ScopedVariant.h"

namespace {

using NTarn::ScopedBstr;
using NTarn::ScopedHandle;
using NTarn::ScopedVariant;

TEST(ScopedHandleTest, BothInvalidValuesAreEmptyAndAHandleIsClosedOnce) {
  EXPECT_FALSE(ScopedHandle(INVALID_HANDLE_VALUE));
  EXPECT_FALSE(ScopedHandle(nullptr));
  ScopedHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(event);
  const HANDLE raw = event.Get();
  ScopedHandle moved(std::move(event));
  EXPECT_FALSE(event);
  EXPECT_EQ(moved.Get(), raw);
  moved.Reset();
  DWORD flags = 0;
  EXPECT_FALSE(::GetHandleInformation(raw, &flags));
}

TEST(ScopedBstrTest, CopiesAWideTextAndAdoptsOnlyThroughReset) {
  const wchar_t text[] = L"text";
  const ScopedBstr copy(text);
  EXPECT_NE(copy.Get(), text);
  EXPECT_STREQ(copy.Get(), L"text");
  EXPECT_EQ(copy.Length(), 4u);
  EXPECT_TRUE(ScopedBstr(nullptr).IsNull());

  const BSTR owned = ::SysAllocString(L"owned");
  ScopedBstr adopted;
  adopted.Reset(owned);
  EXPECT_EQ(adopted.Get(), owned);
  ScopedBstr moved(std::move(adopted));
  EXPECT_TRUE(adopted.IsNull());
  EXPECT_EQ(moved.Get(), owned);
  const BSTR released = moved.Release();
  EXPECT_TRUE(moved.IsNull());
  moved.Reset(released);
}

TEST(ScopedVariantTest, MovesItsValueAndLeavesTheSourceEmpty) {
  ScopedVariant source;
  VARIANT* slot = source.Receive();
  V_VT(slot) = VT_BSTR;
  V_BSTR(slot) = ::SysAllocString(L"value");
  ScopedVariant target(std::move(source));
  EXPECT_EQ(source.Type(), VT_EMPTY);
  EXPECT_STREQ(V_BSTR(&target.Get()), L"value");
  source = std::move(target);
  EXPECT_EQ(target.Type(), VT_EMPTY);
  EXPECT_STREQ(V_BSTR(&source.Get()), L"value");
  const VARIANT released = source.Release();
  EXPECT_EQ(source.Type(), VT_EMPTY);
  *target.Receive() = released;
  EXPECT_STREQ(V_BSTR(&target.Get()), L"value");
}

}  // namespace
