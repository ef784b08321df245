#include "tools/vplhost/TextSettingCheck.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/ScratchLocalMachine.h"

namespace {

constexpr char kSettings[] = "Software\\Tarn\\Vesperline";
constexpr char kPolicy[] = "Software\\Policies\\Tarn\\Vesperline";

// Texts at and one past what the plug-in reads, in both keys: only the
// longer ones are named, policy first, in the plug-in's order of settings.
TEST(TextSettingCheck, NamesEachStoredTextLongerThanThePluginReads) {
  vpltest::ScratchLocalMachine machine;
  // clang-format off
  const struct { const char* key; const char* name; size_t length; const char* warning; } cases[] = {
      {kSettings, "MonitorJobs", 10, "Software\\Tarn\\Vesperline\\MonitorJobs is 10 characters long; the plug-in reads at most 9"},
      {kPolicy, "AllowedShutdownJobStates", 608, "Software\\Policies\\Tarn\\Vesperline\\AllowedShutdownJobStates is 608 characters long; the plug-in reads at most 519"},
      {kSettings, "AllowedShutdownUpdateStates", 519, nullptr},
      {kPolicy, "LogOffAction", 20, "Software\\Policies\\Tarn\\Vesperline\\LogOffAction is 20 characters long; the plug-in reads at most 19"},
      {kSettings, "ShutdownMsg", 600, "Software\\Tarn\\Vesperline\\ShutdownMsg is 600 characters long; the plug-in reads at most 499"},
  };
  // clang-format on
  std::vector<std::string> expected;
  for (const auto& c : cases) {
    vpltest::ScratchLocalMachine::Set(c.key, c.name,
                                      std::string(c.length, 'x'));
    if (c.warning) {
      expected.push_back(std::string("vplhost: warning: ") + c.warning +
                         " and ignores a longer text");
    }
  }
  EXPECT_EQ(expected, vplhost::LongTextSettingWarnings());
}

}  // namespace
