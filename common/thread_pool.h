#pragma once
// A fixed pool of 20 worker threads running queued jobs oldest first. Its one
// client is the aria2 engine, whose job watches a child process for a whole
// transfer, so the pool never grows or shrinks and creates its threads once.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "common/singleton.h"

namespace kx {

class ThreadPool : public Singleton<ThreadPool> {
 public:
  using Job = std::function<std::int32_t(void*)>;
  static constexpr int kThreadCount = 20;

  ThreadPool();
  // Stops the workers: running jobs finish, jobs still queued are freed unrun.
  ~ThreadPool() override;

  // Queues `job` to be called with `argument`; returns at once, the result is discarded.
  // A job must not let an exception escape.
  void commit(Job job, void* argument);

 private:
  struct QueuedJob {
    Job call;
    void* argument;
  };

  void work();

  std::vector<std::thread> threads_;
  std::mutex queueLock_;
  std::condition_variable queueSignal_;
  std::atomic<bool> stopping_{false};
  std::deque<std::unique_ptr<QueuedJob>> queue_;
};

}  // namespace kx
