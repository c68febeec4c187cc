#include "common/thread_pool.h"

namespace kx {

ThreadPool::ThreadPool() {
  threads_.reserve(kThreadCount);
  for (int i = 0; i < kThreadCount; ++i) threads_.emplace_back([this] { work(); });
}

ThreadPool::~ThreadPool() {
  {
    // Under the lock, so no worker can check the flag and then miss the wake-up.
    std::lock_guard<std::mutex> lock(queueLock_);
    stopping_.exchange(true);
  }
  queueSignal_.notify_all();
  for (auto& thread : threads_) thread.join();
  // queue_ frees whatever is left without running it.
}

void ThreadPool::commit(Job job, void* argument) {
  auto queued = std::make_unique<QueuedJob>(QueuedJob{std::move(job), argument});
  std::lock_guard<std::mutex> lock(queueLock_);
  queue_.push_back(std::move(queued));
  queueSignal_.notify_one();
}

void ThreadPool::work() {
  while (!stopping_) {
    std::unique_ptr<QueuedJob> job;
    {
      std::unique_lock<std::mutex> lock(queueLock_);
      queueSignal_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;
      job = std::move(queue_.front());
      queue_.pop_front();
    }
    job->call(job->argument);
  }
}

}  // namespace kx
