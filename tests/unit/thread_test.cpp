#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

namespace quillon::platform {
namespace {

TEST(Thread, RunsItsProcedureAndCanBeWaitedForWithALimit) {
  std::atomic<bool> release{false};
  std::atomic<int> ran{0};
  auto thread = Thread::Start([&] {
    ++ran;
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  ASSERT_TRUE(thread);
  EXPECT_FALSE(thread->Wait(20));
  EXPECT_TRUE(thread->Running());
  release = true;
  EXPECT_TRUE(thread->Wait(10000));
  EXPECT_FALSE(thread->Running());
  EXPECT_EQ(ran, 1);
}

TEST(Thread, AThreadStillRunningWhenReleasedEndsOnItsOwn) {
  auto finished = std::make_shared<std::atomic<bool>>(false);
  auto release = std::make_shared<std::atomic<bool>>(false);
  {
    auto thread = Thread::Start([finished, release] {
      while (!*release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      *finished = true;
    });
  }  // released while running
  *release = true;
  for (int i = 0; i < 10000 && !*finished; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(*finished);
}

}  // namespace
}  // namespace quillon::platform
