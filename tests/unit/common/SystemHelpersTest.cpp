#include "common/SystemHelpers.h"

#include <gtest/gtest.h>

namespace {

TEST(IsWindowsNT, ReportsTheNtPlatform) { EXPECT_TRUE(NTarn::IsWindowsNT()); }

}  // namespace
