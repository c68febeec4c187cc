#pragma once
// Time and waiting for the telemetry client. Sessions wait minutes for the
// user to come back; tests replace the clock to move time on without waiting.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace kx::telemetry {

// An event that stays set until reset, as the waits of the client need.
class ManualEvent {
 public:
  void set();
  void reset();
  bool isSet();
  // True when the event was set within `timeout`.
  bool waitFor(std::chrono::milliseconds timeout);

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  bool set_ = false;
};

class TallyClock {
 public:
  virtual ~TallyClock() = default;
  // Seconds since 1970.
  virtual std::int64_t now() = 0;
  // Waits until `event` is set (true) or `timeout` has passed on this clock (false).
  virtual bool wait(ManualEvent& event, std::chrono::milliseconds timeout) = 0;
};

// The wall clock and real waiting.
class SystemTallyClock final : public TallyClock {
 public:
  std::int64_t now() override;
  bool wait(ManualEvent& event, std::chrono::milliseconds timeout) override;
};

// A thread nobody joins: its owner waits for its end with a bound and may
// leave it behind. `body` must hold (by shared pointers) whatever it uses
// after its owner could have let go.
class BoundedThread {
 public:
  void start(std::function<void()> body);
  // True when no thread was started or the thread has ended within `timeout`.
  bool waitFor(std::chrono::milliseconds timeout);
  bool running();

 private:
  std::shared_ptr<ManualEvent> done_;
};

}  // namespace kx::telemetry
