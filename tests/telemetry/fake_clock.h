#pragma once
// A clock the test moves on by hand: waits on it end when their event is set
// or when the test has advanced past their deadline, never by real time.
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "telemetry/tally_clock.h"

namespace kx::test {

class FakeClock final : public telemetry::TallyClock {
 public:
  explicit FakeClock(std::int64_t startSeconds = 1700000000) : millis_(startSeconds * 1000) {}

  std::int64_t now() override { return millis_.load() / 1000; }

  bool wait(telemetry::ManualEvent& event, std::chrono::milliseconds timeout) override {
    const std::int64_t deadline = millis_.load() + timeout.count();
    count(timeout, +1);
    bool signalled = false;
    while (!(signalled = event.waitFor(std::chrono::milliseconds(2))) && millis_.load() < deadline) {
    }
    count(timeout, -1);
    return signalled;
  }

  void advance(std::chrono::milliseconds step) { millis_ += step.count(); }

  // Whether a wait of this length is running; the test polls it (bounded)
  // before moving time on, so the wait's deadline counts from the right moment.
  int waiting(std::chrono::milliseconds timeout) {
    std::lock_guard guard(lock_);
    return waits_[timeout.count()];
  }

 private:
  void count(std::chrono::milliseconds timeout, int change) {
    std::lock_guard guard(lock_);
    waits_[timeout.count()] += change;
  }

  std::atomic<std::int64_t> millis_;
  std::mutex lock_;
  std::map<std::int64_t, int> waits_;
};

// Polls `condition` every few milliseconds for at most `limit` of real time.
template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace kx::test
