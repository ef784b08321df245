#include "common/Logging.h"

#include <gtest/gtest.h>

TEST(Logging, Placeholder) { EXPECT_EQ(9u, DebugFlags.load()); }
