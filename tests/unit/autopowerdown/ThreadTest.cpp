#include "autopowerdown/StoppableThread.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/support/DebugFlagsScope.h"
#include "tests/support/LogCapture.h"

namespace {

using vpltest::DebugFlagsScope;
using vpltest::LogCapture;

class TestThread final : public StoppableThread {
 public:
  explicit TestThread(bool waitForStop)
      : StoppableThread("TestThread"), m_waitForStop(waitForStop) {}
  ~TestThread() override { StopAndJoin(); }
  unsigned Run() override {
    if (m_waitForStop) ::WaitForSingleObject(StopEvent(), INFINITE);
    return 0;
  }

 private:
  const bool m_waitForStop;
};

// "started" or "ended" for each thread line, in order.
std::vector<std::string> LifetimeLines() {
  const std::string prefix = "[T]: Thread Name='TestThread', Handle=";
  std::vector<std::string> kinds;
  for (const std::string& line : LogCapture::Messages()) {
    if (line.rfind(prefix, 0) != 0) continue;
    const size_t end = line.rfind(' ');
    kinds.push_back(line.substr(end + 1, line.size() - end - 2));
  }
  return kinds;
}

TEST(ThreadTest, StartAndJoinAreLoggedOnlyWithTheLifetimeBit) {
  for (const uint32_t flags : {0u, 0x40u}) {
    DebugFlagsScope scope(flags);
    TestThread thread(/*waitForStop=*/true);
    ASSERT_EQ(S_OK, thread.Initialize());
    ASSERT_EQ(S_OK, thread.Start());
    EXPECT_TRUE(thread.IsRunning(10));
    // Starting and the running test are one step.
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_SERVICE_ALREADY_RUNNING),
              thread.Start());
    thread.StopAndJoin();
    EXPECT_FALSE(thread.IsRunning(0));
    const std::vector<std::string> expected =
        flags ? std::vector<std::string>{"started", "ended"}
              : std::vector<std::string>{};
    EXPECT_EQ(expected, LifetimeLines()) << flags;
  }
}

TEST(ThreadTest, ThreadThatEndedByItselfIsNotJoinedAgainAndCanRestart) {
  DebugFlagsScope scope(0x40);
  TestThread thread(/*waitForStop=*/false);
  ASSERT_EQ(S_OK, thread.Initialize());
  for (int run = 0; run < 2; ++run) {
    ASSERT_EQ(S_OK, thread.Start());
    // Waits for the thread's end: a finished thread reads as not running.
    EXPECT_FALSE(thread.IsRunning(INFINITE));
    thread.Join();
  }
  EXPECT_EQ((std::vector<std::string>{"started", "started"}), LifetimeLines());
}

TEST(ThreadTest, ControllersJoiningAtOnceLogTheEndOnce) {
  DebugFlagsScope scope(0x40);
  TestThread thread(/*waitForStop=*/true);
  ASSERT_EQ(S_OK, thread.Initialize());
  ASSERT_EQ(S_OK, thread.Start());
  std::thread first([&thread] { thread.Join(); });
  std::thread second([&thread] { thread.Join(); });
  thread.StopAndJoin();
  first.join();
  second.join();
  EXPECT_EQ((std::vector<std::string>{"started", "ended"}), LifetimeLines());
}

}  // namespace
