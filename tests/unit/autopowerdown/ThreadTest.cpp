#include "autopowerdown/StoppableThread.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/support/DebugFlagsScope.h"
#include "tests/support/LogCapture.h"

namespace {

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

// The last word of each thread line: "started" or "ended".
std::vector<std::string> LifetimeLines() {
  std::vector<std::string> kinds;
  for (const std::string& line : vpltest::LogCapture::Messages()) {
    if (line.rfind("[T]: Thread Name='TestThread', Handle=", 0) != 0) continue;
    kinds.push_back(line.substr(line.rfind(' ') + 1));
  }
  return kinds;
}

TEST(ThreadTest, EachStartAndEachJoinOfARunningThreadIsLoggedOnce) {
  vpltest::DebugFlagsScope flags(0x40);
  TestThread stopped(/*waitForStop=*/true);
  ASSERT_EQ(S_OK, stopped.Initialize());
  ASSERT_EQ(S_OK, stopped.Start());
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_SERVICE_ALREADY_RUNNING), stopped.Start());
  // Controllers joining at once share the handle; one logs the end.
  std::thread first([&stopped] { stopped.Join(); });
  std::thread second([&stopped] { stopped.Join(); });
  stopped.StopAndJoin();
  first.join();
  second.join();
  EXPECT_FALSE(stopped.IsRunning(0));

  // A body that returns by itself reads as not running; its join logs
  // nothing, and the object starts again.
  TestThread ended(/*waitForStop=*/false);
  ASSERT_EQ(S_OK, ended.Initialize());
  for (int run = 0; run < 2; ++run) {
    ASSERT_EQ(S_OK, ended.Start());
    EXPECT_FALSE(ended.IsRunning(INFINITE));
    ended.Join();
  }
  EXPECT_EQ((std::vector<std::string>{"started\n", "ended\n", "started\n",
                                      "started\n"}),
            LifetimeLines());
}

}  // namespace
