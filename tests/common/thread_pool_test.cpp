#include "common/thread_pool.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace kx {
namespace {

using namespace std::chrono_literals;

// Jobs that record when they start and then block until the test lets them go.
class Gate {
 public:
  ThreadPool::Job job() {
    return [this](void* argument) {
      std::unique_lock<std::mutex> lock(mutex_);
      started_.push_back(*static_cast<int*>(argument));
      changed_.notify_all();
      changed_.wait(lock, [this] { return releases_ > 0; });
      --releases_;
      return 0;
    };
  }
  void release(int n) {
    std::lock_guard<std::mutex> lock(mutex_);
    releases_ += n;
    changed_.notify_all();
  }
  // Waits (bounded) until `n` jobs have started; answers the start order so far.
  std::vector<int> awaitStarted(std::size_t n) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, 5s, [&] { return started_.size() >= n; });
    return started_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<int> started_;
  int releases_ = 0;
};

TEST(ThreadPool, RunsTwentyAtOnceAndTheRestInCommitOrder) {
  ThreadPool pool;
  Gate gate;
  std::vector<int> ids(25);
  for (int i = 0; i < 25; ++i) {
    ids[i] = i;
    pool.commit(gate.job(), &ids[i]);
  }
  EXPECT_EQ(gate.awaitStarted(20).size(), 20u);
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(gate.awaitStarted(0).size(), 20u) << "more than 20 jobs ran at once";

  for (int next = 20; next < 25; ++next) {
    gate.release(1);
    const auto started = gate.awaitStarted(next + 1);
    ASSERT_EQ(started.size(), static_cast<std::size_t>(next + 1));
    EXPECT_EQ(started.back(), next);
  }
  gate.release(25);
}

TEST(ThreadPool, EveryJobGetsExactlyItsArgument) {
  std::mutex mutex;
  std::vector<std::pair<int, void*>> seen;
  std::vector<int> values(40);
  {
    ThreadPool pool;
    for (int i = 0; i < 40; ++i) {
      values[i] = i;
      pool.commit(
          [&, i](void* argument) {
            std::lock_guard<std::mutex> lock(mutex);
            seen.emplace_back(i, argument);
            return i;
          },
          &values[i]);
    }
    for (int waited = 0; waited < 500; ++waited) {
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (seen.size() == values.size()) break;
      }
      std::this_thread::sleep_for(10ms);
    }
  }
  ASSERT_EQ(seen.size(), values.size());
  for (const auto& [index, argument] : seen) EXPECT_EQ(argument, &values[index]);
}

TEST(ThreadPool, TearDownFreesQueuedJobsWithoutRunningThem) {
  Gate gate;
  std::vector<int> ids(ThreadPool::kThreadCount);
  auto owned = std::make_shared<int>(0);
  std::weak_ptr<int> watch = owned;
  std::atomic<int> queuedRuns{0};
  std::thread tearDown;
  {
    auto pool = std::make_unique<ThreadPool>();
    for (int i = 0; i < ThreadPool::kThreadCount; ++i) pool->commit(gate.job(), &ids[i]);
    ASSERT_EQ(gate.awaitStarted(ThreadPool::kThreadCount).size(), static_cast<std::size_t>(ThreadPool::kThreadCount));
    for (int i = 0; i < 3; ++i)
      pool->commit([&queuedRuns, owned](void*) { return ++queuedRuns; }, nullptr);
    owned.reset();
    EXPECT_FALSE(watch.expired()) << "the queue must own its jobs";
    // The destructor waits for the running jobs, so it runs beside the test,
    // which lets the blocked jobs go once the stop has been signalled.
    tearDown = std::thread([p = pool.release()] { delete p; });
  }
  std::this_thread::sleep_for(300ms);
  gate.release(ThreadPool::kThreadCount);
  tearDown.join();
  EXPECT_EQ(queuedRuns, 0);
  EXPECT_TRUE(watch.expired()) << "queued jobs must be freed at tear-down";
}

}  // namespace
}  // namespace kx
