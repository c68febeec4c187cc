#include "uiengine/main_loop.h"

namespace kx::uiengine {

void MainLoop::post(Task task) {
  {
    std::lock_guard guard(lock_);
    tasks_.push_back(std::move(task));
  }
  wake_.notify_one();
}

std::uint64_t MainLoop::postAfter(std::chrono::milliseconds delay, Task task) {
  std::uint64_t id;
  {
    std::lock_guard guard(lock_);
    id = nextTimer_++;
    timers_.emplace(Clock::now() + delay, std::make_pair(id, std::move(task)));
  }
  wake_.notify_one();
  return id;
}

void MainLoop::cancel(std::uint64_t timer) {
  std::lock_guard guard(lock_);
  for (auto it = timers_.begin(); it != timers_.end(); ++it) {
    if (it->second.first == timer) {
      timers_.erase(it);
      return;
    }
  }
}

int MainLoop::run() {
  std::unique_lock guard(lock_);
  for (;;) {
    if (stopValue_) {
      const int value = *stopValue_;
      stopValue_.reset();
      return value;
    }
    Task next;
    if (!timers_.empty() && timers_.begin()->first <= Clock::now()) {
      next = std::move(timers_.begin()->second.second);
      timers_.erase(timers_.begin());
    } else if (!tasks_.empty()) {
      next = std::move(tasks_.front());
      tasks_.pop_front();
    } else if (!timers_.empty()) {
      wake_.wait_until(guard, timers_.begin()->first);
      continue;
    } else {
      wake_.wait(guard);
      continue;
    }
    guard.unlock();
    next();
    guard.lock();
  }
}

void MainLoop::stop(int exitValue) {
  {
    std::lock_guard guard(lock_);
    stopValue_ = exitValue;
  }
  wake_.notify_one();
}

void MainLoop::discardPending() {
  // Destroyed when this returns, outside the lock: a task may own something that posts again.
  std::deque<Task> tasks;
  std::multimap<Clock::time_point, std::pair<std::uint64_t, Task>> timers;
  {
    std::lock_guard guard(lock_);
    tasks.swap(tasks_);
    timers.swap(timers_);
  }
}

}  // namespace kx::uiengine
