#pragma once
// The task queue of the UI thread. Any thread may post; tasks and due timers
// run one at a time, in posting order, on the thread that calls run().

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

namespace kx::uiengine {

class MainLoop {
 public:
  using Task = std::function<void()>;
  using Clock = std::chrono::steady_clock;

  void post(Task task);
  // Runs `task` once `delay` has passed; the answer cancels it.
  std::uint64_t postAfter(std::chrono::milliseconds delay, Task task);
  void cancel(std::uint64_t timer);

  // Runs tasks until stop(); answers the exit value given to stop(). Tasks
  // still queued then stay queued for a later run().
  int run();
  // Any thread; the running (or next) run() returns `exitValue`.
  void stop(int exitValue);
  // Drops every queued task and timer without running it.
  void discardPending();

 private:
  std::mutex lock_;
  std::condition_variable wake_;
  std::deque<Task> tasks_;
  std::multimap<Clock::time_point, std::pair<std::uint64_t, Task>> timers_;
  std::uint64_t nextTimer_ = 1;
  std::optional<int> stopValue_;
};

}  // namespace kx::uiengine
