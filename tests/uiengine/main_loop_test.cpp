#include "uiengine/main_loop.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace kx::uiengine {
namespace {

using namespace std::chrono_literals;

TEST(MainLoop, RunsPostsOfEveryThreadInTheirOrderOnTheLoopThread) {
  MainLoop loop;
  constexpr int kThreads = 4, kPosts = 500;
  std::vector<std::vector<int>> seen(kThreads);
  bool allOnLoopThread = true;
  std::thread::id loopThread = std::this_thread::get_id();
  std::atomic<int> remaining{kThreads * kPosts};
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&, t] {
      for (int i = 0; i < kPosts; ++i) {
        loop.post([&, t, i] {
          allOnLoopThread = allOnLoopThread && std::this_thread::get_id() == loopThread;
          seen[t].push_back(i);
          if (--remaining == 0) loop.stop(5);
        });
      }
    });
  }
  EXPECT_EQ(loop.run(), 5);
  for (auto& poster : posters) poster.join();
  EXPECT_TRUE(allOnLoopThread);
  for (const auto& sequence : seen) {
    ASSERT_EQ(sequence.size(), static_cast<std::size_t>(kPosts));
    for (int i = 0; i < kPosts; ++i) EXPECT_EQ(sequence[i], i);
  }
}

TEST(MainLoop, TimersFireByDueTimeAndCanBeCancelled) {
  MainLoop loop;
  std::vector<int> order;
  loop.postAfter(60ms, [&] {
    order.push_back(3);
    loop.stop(0);
  });
  const auto cancelled = loop.postAfter(30ms, [&] { order.push_back(99); });
  loop.postAfter(20ms, [&] { order.push_back(2); });
  loop.post([&] { order.push_back(1); });
  loop.cancel(cancelled);
  const auto start = MainLoop::Clock::now();
  EXPECT_EQ(loop.run(), 0);
  EXPECT_GE(MainLoop::Clock::now() - start, 60ms);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(MainLoop, StopFromAnotherThreadEndsAWaitingLoopAndKeepsLaterTasks) {
  MainLoop loop;
  std::thread stopper([&] {
    std::this_thread::sleep_for(20ms);
    loop.stop(-1);
  });
  EXPECT_EQ(loop.run(), -1);
  stopper.join();
  bool ran = false;
  loop.post([&] {
    ran = true;
    loop.stop(2);
  });
  EXPECT_EQ(loop.run(), 2);
  EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace kx::uiengine
